#include "orvane/GameWrapper.h"

#include "GameThread.h"
#include "PluginSession.h"

using namespace orvane::host;

GameWrapper::GameWrapper(PluginSession* session) : session(session) {}

// A closed session takes nothing more: what it would queue could outlive the plugin's code.
void GameWrapper::SetTimeout(std::function<void(GameWrapper*)> callback, float delaySeconds)
{
    if (!session || session->IsClosed())
        return;
    GameWrapper* handle = session->GameHandle().get();
    session->Services().game.AddTimer(*session, delaySeconds,
                                      [callback = std::move(callback), handle] { callback(handle); });
}

void GameWrapper::Execute(std::function<void(GameWrapper*)> callback)
{
    if (!session || session->IsClosed())
        return;
    GameWrapper* handle = session->GameHandle().get();
    session->Services().game.QueueWork(session, [callback = std::move(callback), handle] { callback(handle); });
}

void GameWrapper::HookActorEventPost(std::string eventName,
                                     std::function<void(ActorWrapper caller, void* params, std::string eventName)> callback)
{
    if (!session || session->IsClosed())
        return;
    session->Services().game.AddHook(*session, std::move(eventName), std::move(callback));
}
