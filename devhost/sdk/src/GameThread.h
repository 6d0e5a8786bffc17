// The host's game thread: the game clock, plugin timers, queued game work and game-event hooks.
//
// With the virtual clock nothing happens by itself: Advance moves the clock and runs what falls
// due, RunQueuedWork runs queued work. With real time, due timers and queued work run at once.
// Advance and FinishQueuedWork leave no queued work behind: what the work they ran queued in
// turn runs too, round after round, up to kMaxRounds.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "TaskThread.h"
#include "orvane/ActorWrapper.h"
#include "orvane/host/Host.h"

namespace devhost {

class PluginSession;

class GameThread {
public:
    using HookCallable = std::function<void(ActorWrapper caller, void* params, std::string eventName)>;

    explicit GameThread(ClockMode clock);
    ~GameThread();

    // Runs host work on the game thread and waits for it.
    void Call(const std::function<void()>& work) { thread.Call(work); }

    // Queued work runs in order. Work without an owner is the host's own (console commands).
    void QueueWork(PluginSession* owner, std::function<void()> work);
    void AddTimer(PluginSession& owner, double delaySeconds, std::function<void()> callable);
    void AddHook(PluginSession& owner, std::string eventName, HookCallable callable);
    // Runs every hook on that event, on the game thread; returns when they have run.
    void Fire(const std::string& eventName, ActorWrapper caller, void* params);

    void Advance(double seconds);
    // One round: the work queued so far; what it queues waits for the next round.
    void RunQueuedWork();
    // Rounds until nothing is queued.
    void FinishQueuedWork();
    bool HasQueuedWork() const;
    std::vector<PendingTimeout> PendingTimeouts() const;
    std::vector<std::string> HookedEvents() const;

    // Forgets every timer, queued work and hook of that plugin without running them.
    void Drop(const PluginSession& owner);

private:
    struct Work {
        PluginSession* owner;
        std::function<void()> callable;
    };
    struct Timer {
        PluginSession* owner;
        double delaySeconds;
        std::function<void()> callable;
    };
    struct Hook {
        PluginSession* owner;
        std::string eventName;
        HookCallable callable;
    };

    // A callable that keeps queueing itself would hold the game thread forever; after this many
    // rounds the rest waits for the next turn.
    static constexpr int kMaxRounds = 1000;

    double Now() const; // seconds of game time; caller holds mutex
    void RunDueUntil(double target);
    void RunQueued();
    void RunQueuedUntilIdle();
    void RunWork(Work&& work);
    void WakeAt(double due);

    const ClockMode clock;
    const TaskThread::Clock::time_point start = TaskThread::Clock::now();

    mutable std::mutex mutex;
    double virtualNow = 0.0;
    std::vector<Work> queued;
    std::map<std::pair<double, std::uint64_t>, Timer> timers; // by due time, then order set
    std::uint64_t timersSet = 0;
    std::vector<Hook> hooks;

    TaskThread thread; // last: joined before the state above goes
};

} // namespace devhost
