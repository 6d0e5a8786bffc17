// One loaded plugin as the host sees it: the handles it was given, and the guard that keeps
// its callables from running once it is unloaded.
//
// Every plugin callable the host runs goes through Run (or Enter, then RunEntered, for one taken
// out of a queue). Unloading Closes the session, drops its queued callables, then waits until
// those already in flight are done, including the destruction of their captured state, since
// that code lives in the plugin's module.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "HostServices.h"

class CVarManagerWrapper;
class GameWrapper;

namespace devhost {

class PluginSession {
public:
    explicit PluginSession(HostServices services);
    ~PluginSession();

    // The session whose callable runs on this thread, or null.
    static PluginSession* Current();

    const HostServices& Services() const { return services; }
    const std::shared_ptr<CVarManagerWrapper>& ConsoleHandle() const { return consoleHandle; }
    const std::shared_ptr<GameWrapper>& GameHandle() const { return gameHandle; }

    // Marks a callable as in flight; call it while the callable is still in the host's queue,
    // under the queue's lock, so Close cannot miss it.
    void Enter();
    // Runs an entered callable unless the session is closed, destroys it, and leaves.
    // Exceptions are caught and logged on the host's console with `what`.
    void RunEntered(std::function<void()>&& callable, const char* what);
    void Run(std::function<void()>&& callable, const char* what);

    // From now on no callable of this session runs.
    void Close() { closed.store(true); }
    bool IsClosed() const { return closed.load(); }
    // Never called from one of this session's callables: it waits for them.
    void WaitUntilIdle();

private:
    void Leave();

    const HostServices services;
    std::shared_ptr<CVarManagerWrapper> consoleHandle;
    std::shared_ptr<GameWrapper> gameHandle;

    std::atomic<bool> closed{false};
    std::atomic<int> inFlight{0};
    std::mutex idleMutex;
    std::condition_variable idle;
};

// The session of the plugin the live host has loaded, for SDK calls made outside any callable;
// null when there is none.
PluginSession* ActivePluginSession();

} // namespace devhost
