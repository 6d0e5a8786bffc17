#include "TaskThread.h"

#include <future>

namespace devhost {

TaskThread::TaskThread() : thread([this] { Loop(); }) {}

TaskThread::~TaskThread()
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    thread.join();
}

void TaskThread::Post(Task task)
{
    {
        std::lock_guard lock(mutex);
        tasks.push_back(std::move(task));
    }
    wake.notify_all();
}

void TaskThread::PostAt(Clock::time_point when, Task task)
{
    {
        std::lock_guard lock(mutex);
        delayed.emplace(std::make_pair(when, postCount++), std::move(task));
    }
    wake.notify_all();
}

void TaskThread::Call(const Task& task)
{
    if (IsCurrent()) {
        task();
        return;
    }
    std::promise<void> done;
    Post([&] {
        try {
            task();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    done.get_future().get();
}

bool TaskThread::IsCurrent() const
{
    return std::this_thread::get_id() == thread.get_id();
}

bool TaskThread::PopReady(Task& task)
{
    if (!tasks.empty()) {
        task = std::move(tasks.front());
        tasks.pop_front();
        return true;
    }
    if (!delayed.empty() && delayed.begin()->first.first <= Clock::now()) {
        task = std::move(delayed.begin()->second);
        delayed.erase(delayed.begin());
        return true;
    }
    return false;
}

void TaskThread::Loop()
{
    std::unique_lock lock(mutex);
    for (;;) {
        Task task;
        if (PopReady(task)) {
            lock.unlock();
            task();
            task = nullptr; // destroyed before the lock is taken again
            lock.lock();
            continue;
        }
        // Delayed tasks that are not due yet are dropped at shutdown: nobody waits for them.
        if (stopping)
            return;
        if (delayed.empty())
            wake.wait(lock);
        else
            wake.wait_until(lock, delayed.begin()->first.first);
    }
}

} // namespace devhost
