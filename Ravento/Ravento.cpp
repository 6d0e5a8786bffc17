// The plugin object and its load sequence: share the console, register the replays-folder
// variable, schedule the folder discovery and hook the play-replay event.
#include "Ravento.h"

#include "CallbackBoundary.h"
#include "ModuleConsole.h"

using namespace plugin;

const char kPluginName[] = "Ravento";

Ravento::Ravento() = default;

// Members first (demosFolder), then the window base, then the plugin base's two handles.
Ravento::~Ravento() = default;

// The host calls onLoad itself, so its body gets the boundary every host callback has.
void Ravento::onLoad()
{
    ContainErrors("onLoad", [this] { Load(); });
}

void Ravento::Load()
{
    moduleConsole = cvarManager;

    cvarManager->registerCvar(kDemosFolderVariable, "", "", true, false, 0.0f, false, 0.0f, true);

    // The host drops these callables before it releases the object, so a plain pointer is safe.
    Ravento* plugin = this;
    gameWrapper->SetTimeout(
        [plugin](GameWrapper*) { ContainErrors("InitDemosFolder", [plugin] { plugin->InitDemosFolder(); }); }, 1.0f);

    gameWrapper->HookEventWithCallerPost<ActorWrapper>(
        kPlayReplayEvent, [plugin](ActorWrapper caller, void* params, std::string eventName) {
            ContainErrors("OnPlayReplay", [&] { plugin->OnPlayReplay(caller, params, std::move(eventName)); });
        });
}
