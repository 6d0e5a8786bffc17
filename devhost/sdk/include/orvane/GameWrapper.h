// The game side of the host: timers, deferred work and game-event hooks, all run on the
// host's game thread.
#pragma once

#include <functional>
#include <string>

#include "orvane/ActorWrapper.h"
#include "orvane/SdkApi.h"

class ORVANE_SDK_API GameWrapper {
public:
    // Runs the callback once, delaySeconds of game time from now.
    void SetTimeout(std::function<void(GameWrapper*)> callback, float delaySeconds);
    // Runs the callback on the game thread at its next turn.
    void Execute(std::function<void(GameWrapper*)> callback);

    // Calls the callback after every run of the named game function, with the caller, the
    // function's parameter block and the event name. Only ActorWrapper callers exist here.
    template <typename Caller>
    void HookEventWithCallerPost(std::string eventName,
                                 std::function<void(Caller caller, void* params, std::string eventName)> callback);

private:
    friend struct SdkAccess; // only the host makes one, and only it knows what it points at
    explicit GameWrapper(void* session);

    void HookActorEventPost(std::string eventName,
                            std::function<void(ActorWrapper caller, void* params, std::string eventName)> callback);

    void* session;
};

template <>
inline void GameWrapper::HookEventWithCallerPost<ActorWrapper>(
    std::string eventName, std::function<void(ActorWrapper caller, void* params, std::string eventName)> callback)
{
    HookActorEventPost(std::move(eventName), std::move(callback));
}
