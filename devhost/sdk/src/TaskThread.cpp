#include "TaskThread.h"

#include <future>

namespace devhost {

namespace {

// A thread that waits for another one spins this long before it sleeps. A script hands the game
// thread a task or two per command; waking a sleeping thread on another core costs tens of
// microseconds on a virtual machine (and grows as the scheduler spreads the threads apart),
// while a spinning one sees the hand-off at once.
constexpr auto kSpinBeforeSleep = std::chrono::microseconds(50);

void CpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// True as soon as done() is; false when the spin ends first, or at once on one core, where
// spinning only keeps the other thread from running.
template <typename Done>
bool SpinUntil(Done done)
{
    static const bool severalCores = std::thread::hardware_concurrency() > 1;
    if (!severalCores)
        return done();
    const auto until = TaskThread::Clock::now() + kSpinBeforeSleep;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (done())
                return true;
            CpuRelax();
        }
        if (TaskThread::Clock::now() >= until)
            return done();
    }
}

} // namespace

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
        posted.fetch_add(1, std::memory_order_release);
    }
    wake.notify_all();
}

void TaskThread::PostAt(Clock::time_point when, Task task)
{
    {
        std::lock_guard lock(mutex);
        delayed.emplace(std::make_pair(when, postCount++), std::move(task));
        posted.fetch_add(1, std::memory_order_release);
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
    std::future<void> finished = done.get_future();
    Post([&] {
        try {
            task();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    // A zero wait only reads the state; the blocking get() is for tasks that take longer.
    SpinUntil([&] { return finished.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    finished.get();
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
    bool spun = false;
    for (;;) {
        Task task;
        if (PopReady(task)) {
            lock.unlock();
            task();
            task = nullptr; // destroyed before the lock is taken again
            lock.lock();
            spun = false;
            continue;
        }
        // Delayed tasks that are not due yet are dropped at shutdown: nobody waits for them.
        if (stopping)
            return;
        if (!spun) {
            // Once per idle spell: the next task usually follows at once.
            spun = true;
            const std::uint64_t seen = posted.load(std::memory_order_relaxed);
            lock.unlock();
            SpinUntil([&] { return posted.load(std::memory_order_acquire) != seen; });
            lock.lock();
            continue;
        }
        spun = false;
        if (delayed.empty())
            wake.wait(lock);
        else
            wake.wait_until(lock, delayed.begin()->first.first);
    }
}

} // namespace devhost
