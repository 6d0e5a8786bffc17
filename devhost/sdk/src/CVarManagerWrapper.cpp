#include "orvane/CVarManagerWrapper.h"

#include <fmt/format.h>

#include "Console.h"
#include "ConsoleOutput.h"
#include "ConsoleVariables.h"
#include "GameThread.h"
#include "PluginSession.h"
#include "SdkAccess.h"

using namespace devhost;

CVarManagerWrapper::CVarManagerWrapper(void* session) : session(session) {}

CVarWrapper CVarManagerWrapper::registerCvar(std::string name, std::string defaultValue, std::string description,
                                             bool searchable, bool hasMin, float min, bool hasMax, float max,
                                             bool saveToConfig)
{
    PluginSession* owner = SdkAccess::Session(*this);
    if (!owner)
        return SdkAccess::MakeVariable(nullptr);
    ConsoleVariableInfo info;
    info.name = std::move(name);
    info.defaultValue = std::move(defaultValue);
    info.description = std::move(description);
    info.searchable = searchable;
    info.hasMin = hasMin;
    info.min = min;
    info.hasMax = hasMax;
    info.max = max;
    info.saveToConfig = saveToConfig;
    return SdkAccess::MakeVariable(&owner->Services().variables.Register(std::move(info)));
}

CVarWrapper CVarManagerWrapper::getCvar(std::string name)
{
    PluginSession* owner = SdkAccess::Session(*this);
    return SdkAccess::MakeVariable(owner ? owner->Services().variables.Find(name) : nullptr);
}

// Recorded now, run on the game thread at its next turn, as the real console does; a window's
// own "togglemenu" runs at once (Console::RunsAtOnce says why).
void CVarManagerWrapper::executeCommand(std::string command, bool echo)
{
    PluginSession* owner = SdkAccess::Session(*this);
    if (!owner)
        return;
    const HostServices& services = owner->Services();
    services.console.Record({command, echo, true});
    const bool atOnce = services.console.RunsAtOnce(command);
    auto run = [&services, command = std::move(command), echo] {
        if (echo)
            services.output.HostLine(fmt::format("> {}", command));
        services.console.Run(command);
    };
    if (atOnce)
        run();
    else
        services.game.QueueWork(nullptr, std::move(run));
}

void CVarManagerWrapper::log(std::string text)
{
    if (PluginSession* owner = SdkAccess::Session(*this))
        owner->Services().output.PluginLine(text);
}
