// The hand-off to one of the host's task threads: a task handed to an idle thread runs, tasks
// run in the order they were handed over, and a thread shut down with work queued runs that
// work first. Every wait has a deadline, so a lost wake-up fails the test instead of hanging it.
#include <algorithm>
#include <chrono>
#include <future>
#include <numeric>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TaskThread.h"

using devhost::TaskThread;

namespace {

constexpr auto kDeadline = std::chrono::seconds(30);

std::vector<int> Count(int count)
{
    std::vector<int> numbers(static_cast<std::size_t>(count));
    std::iota(numbers.begin(), numbers.end(), 0);
    return numbers;
}

} // namespace

// Each round's task reaches the thread as it runs out of work and goes to sleep, the moment a
// lost wake-up would strand it.
TEST(TaskThreadTest, ATaskHandedToAnIdleThreadRuns)
{
    TaskThread thread;
    for (int round = 0; round < 20000; ++round) {
        std::promise<void> ran;
        std::future<void> done = ran.get_future();
        thread.Post([&ran] { ran.set_value(); });
        ASSERT_EQ(done.wait_for(kDeadline), std::future_status::ready) << "round " << round;
    }
}

// Several threads hand tasks over at once, some waiting for theirs (Call); each one's tasks run
// in its order, every one exactly once.
TEST(TaskThreadTest, EachCallersTasksRunInTheOrderHandedOver)
{
    constexpr int kCallers = 4;
    constexpr int kTasks = 5000;
    std::vector<std::vector<int>> ran(kCallers); // touched only on the task thread
    {
        TaskThread thread;
        std::vector<std::thread> callers;
        for (int caller = 0; caller < kCallers; ++caller) {
            callers.emplace_back([&, caller] {
                for (int task = 0; task < kTasks; ++task) {
                    auto record = [&ran, caller, task] { ran[caller].push_back(task); };
                    if (task % 50 == 49)
                        thread.Call(record);
                    else
                        thread.Post(record);
                }
            });
        }
        for (std::thread& caller : callers)
            caller.join();
    }
    for (int caller = 0; caller < kCallers; ++caller)
        EXPECT_EQ(ran[caller], Count(kTasks)) << "caller " << caller;

    // Delayed tasks run by due time, and those due at the same time in the order posted. The
    // thread is held while they are posted, so a slow test thread cannot let one fall due early.
    std::vector<int> delayed;
    {
        std::promise<void> release;
        TaskThread thread;
        thread.Post([held = release.get_future().share()] { held.wait(); });
        const auto due = TaskThread::Clock::now();
        thread.PostAt(due + std::chrono::milliseconds(1), [&delayed] { delayed.push_back(3); });
        for (int task = 0; task < 3; ++task)
            thread.PostAt(due, [&delayed, task] { delayed.push_back(task); });
        std::promise<void> last;
        thread.PostAt(due + std::chrono::milliseconds(2), [&last] { last.set_value(); });
        release.set_value();
        ASSERT_EQ(last.get_future().wait_for(kDeadline), std::future_status::ready);
    }
    EXPECT_EQ(delayed, Count(4));
}

// The thread is held by its first task until just before its owner destroys it, so the destructor
// meets a full queue: the held task needs a wake-up to let go, the destructor only its lock.
TEST(TaskThreadTest, ShutdownRunsTheQueuedTasksAndDropsThoseNotYetDue)
{
    constexpr int kQueued = 10;
    for (int round = 0; round < 200; ++round) {
        std::vector<int> ran;
        bool lateRan = false;
        {
            std::promise<void> release;
            TaskThread thread;
            thread.Post([held = release.get_future().share()] { held.wait(); });
            for (int task = 0; task < kQueued; ++task)
                thread.Post([&ran, task] { ran.push_back(task); });
            thread.PostAt(TaskThread::Clock::now() + std::chrono::hours(1), [&lateRan] { lateRan = true; });
            release.set_value();
        } // an hour-late task must not hold the destructor up
        ASSERT_EQ(ran, Count(kQueued)) << "round " << round;
        ASSERT_FALSE(lateRan);
    }
}
