// One worker thread that runs posted tasks in order, and delayed tasks when their time comes.
// The host's game, UI and HTTP threads are each one of these.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace devhost {

class TaskThread {
public:
    using Task = std::function<void()>;
    using Clock = std::chrono::steady_clock;

    TaskThread();
    ~TaskThread(); // runs what is already queued, then joins
    TaskThread(const TaskThread&) = delete;
    TaskThread& operator=(const TaskThread&) = delete;

    void Post(Task task);
    void PostAt(Clock::time_point when, Task task);
    // Runs the task on this thread and waits for it; runs it at once when called from this
    // thread, so a task may call it without deadlocking.
    void Call(const Task& task);
    bool IsCurrent() const;

private:
    void Loop();
    bool PopReady(Task& task);

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<Task> tasks;
    // Keyed by due time, then by posting order, so equal times keep their order.
    std::map<std::pair<Clock::time_point, std::uint64_t>, Task> delayed;
    std::uint64_t postCount = 0;
    bool stopping = false;
    std::thread thread;
};

} // namespace devhost
