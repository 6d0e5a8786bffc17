#include "orvane/GameWrapper.h"

#include "GameThread.h"
#include "PluginSession.h"
#include "SdkAccess.h"

using namespace devhost;

GameWrapper::GameWrapper(void* session) : session(session) {}

// A closed session takes nothing more: what it would queue could outlive the plugin's code.
void GameWrapper::SetTimeout(std::function<void(GameWrapper*)> callback, float delaySeconds)
{
    PluginSession* owner = SdkAccess::Session(*this);
    if (!owner || owner->IsClosed())
        return;
    GameWrapper* handle = owner->GameHandle().get();
    owner->Services().game.AddTimer(*owner, delaySeconds,
                                    [callback = std::move(callback), handle] { callback(handle); });
}

void GameWrapper::Execute(std::function<void(GameWrapper*)> callback)
{
    PluginSession* owner = SdkAccess::Session(*this);
    if (!owner || owner->IsClosed())
        return;
    GameWrapper* handle = owner->GameHandle().get();
    owner->Services().game.QueueWork(owner, [callback = std::move(callback), handle] { callback(handle); });
}

void GameWrapper::HookActorEventPost(
    std::string eventName, std::function<void(ActorWrapper caller, void* params, std::string eventName)> callback)
{
    PluginSession* owner = SdkAccess::Session(*this);
    if (!owner || owner->IsClosed())
        return;
    owner->Services().game.AddHook(*owner, std::move(eventName), std::move(callback));
}
