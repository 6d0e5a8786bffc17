#include "GameThread.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "PluginSession.h"

namespace devhost {

GameThread::GameThread(ClockMode clock) : clock(clock) {}

GameThread::~GameThread() = default;

double GameThread::Now() const
{
    if (clock == ClockMode::Virtual)
        return virtualNow;
    return std::chrono::duration<double>(TaskThread::Clock::now() - start).count();
}

void GameThread::QueueWork(PluginSession* owner, std::function<void()> work)
{
    {
        std::lock_guard lock(mutex);
        queued.push_back({owner, std::move(work)});
    }
    if (clock == ClockMode::RealTime)
        thread.Post([this] { RunQueued(); });
}

void GameThread::AddTimer(PluginSession& owner, double delaySeconds, std::function<void()> callable)
{
    // A negative or NaN delay means "as soon as possible"; an infinite one never falls due.
    if (!(delaySeconds >= 0.0))
        delaySeconds = 0.0;
    double due = 0.0;
    {
        std::lock_guard lock(mutex);
        due = Now() + delaySeconds;
        timers.emplace(std::make_pair(due, timersSet++), Timer{&owner, delaySeconds, std::move(callable)});
    }
    if (clock == ClockMode::RealTime)
        WakeAt(due);
}

void GameThread::WakeAt(double due)
{
    if (!std::isfinite(due))
        return;
    // Rounded up: waking a tick early would find the timer not yet due, and nothing wakes again.
    auto when = start + std::chrono::ceil<TaskThread::Clock::duration>(std::chrono::duration<double>(due));
    thread.PostAt(when, [this] { RunDueUntil(Now()); });
}

void GameThread::AddHook(PluginSession& owner, std::string eventName, HookCallable callable)
{
    std::lock_guard lock(mutex);
    hooks.push_back({&owner, std::move(eventName), std::move(callable)});
}

void GameThread::Fire(const std::string& eventName, ActorWrapper caller, void* params)
{
    thread.Call([&] {
        std::vector<Work> calls;
        {
            std::lock_guard lock(mutex);
            for (Hook& hook : hooks) {
                if (hook.eventName != eventName)
                    continue;
                hook.owner->Enter();
                calls.push_back({hook.owner, [callable = hook.callable, caller, params, eventName] {
                                     callable(caller, params, eventName);
                                 }});
            }
        }
        for (Work& call : calls)
            call.owner->RunEntered(std::move(call.callable), "hook");
    });
}

void GameThread::Advance(double seconds)
{
    if (!(seconds >= 0.0))
        seconds = 0.0;
    if (clock == ClockMode::Virtual) {
        thread.Call([&] {
            double target = 0.0;
            {
                std::lock_guard lock(mutex);
                target = virtualNow + seconds;
            }
            RunDueUntil(target);
        });
        return;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    thread.Call([this] { RunDueUntil(Now()); });
}

void GameThread::RunQueuedWork()
{
    thread.Call([this] { RunQueued(); });
}

void GameThread::FinishQueuedWork()
{
    thread.Call([this] { RunQueuedUntilIdle(); });
}

bool GameThread::HasQueuedWork() const
{
    std::lock_guard lock(mutex);
    return !queued.empty();
}

void GameThread::RunDueUntil(double target)
{
    for (;;) {
        RunQueued();
        Timer timer;
        {
            std::lock_guard lock(mutex);
            auto first = timers.begin();
            if (first == timers.end() || first->first.first > target)
                break;
            if (clock == ClockMode::Virtual)
                virtualNow = std::max(virtualNow, first->first.first);
            timer = std::move(first->second);
            timers.erase(first);
            timer.owner->Enter();
        }
        timer.owner->RunEntered(std::move(timer.callable), "timeout");
    }
    RunQueuedUntilIdle();
    std::lock_guard lock(mutex);
    if (clock == ClockMode::Virtual)
        virtualNow = std::max(virtualNow, target);
}

// Runs the work queued so far; work it queues in turn waits for the next round, so a callable
// that keeps queueing itself cannot starve the game thread.
void GameThread::RunQueued()
{
    std::vector<Work> round;
    {
        std::lock_guard lock(mutex);
        round.swap(queued);
        for (Work& work : round) {
            if (work.owner)
                work.owner->Enter();
        }
    }
    for (Work& work : round)
        RunWork(std::move(work));
}

void GameThread::RunQueuedUntilIdle()
{
    for (int round = 0; round < kMaxRounds && HasQueuedWork(); ++round)
        RunQueued();
}

void GameThread::RunWork(Work&& work)
{
    if (work.owner)
        work.owner->RunEntered(std::move(work.callable), "game work");
    else
        work.callable();
}

std::vector<PendingTimeout> GameThread::PendingTimeouts() const
{
    std::lock_guard lock(mutex);
    std::vector<PendingTimeout> pending;
    double now = Now();
    for (const auto& [key, timer] : timers)
        pending.push_back({timer.delaySeconds, key.first - now});
    return pending;
}

std::vector<std::string> GameThread::HookedEvents() const
{
    std::lock_guard lock(mutex);
    std::vector<std::string> names;
    for (const Hook& hook : hooks)
        names.push_back(hook.eventName);
    return names;
}

void GameThread::Drop(const PluginSession& owner)
{
    std::lock_guard lock(mutex);
    auto owned = [&owner](const auto& entry) { return entry.owner == &owner; };
    std::erase_if(queued, owned);
    std::erase_if(hooks, owned);
    std::erase_if(timers, [&owned](const auto& entry) { return owned(entry.second); });
}

} // namespace devhost
