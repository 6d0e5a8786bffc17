// What a Host is made of. The declaration order is the teardown order in reverse: the game
// thread stops first (its queued console commands still reach the console and the window),
// the plugin sessions go last (late HTTP deliveries still look at them).
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "Console.h"
#include "ConsoleOutput.h"
#include "ConsoleVariables.h"
#include "GameThread.h"
#include "HttpFacility.h"
#include "ModuleLoader.h"
#include "PluginSession.h"
#include "ReplayStore.h"
#include "UiFrames.h"
#include "orvane/OrvanePlugin.h"
#include "orvane/host/Host.h"

namespace devhost {

struct Host::State {
    explicit State(HostOptions& options);

    HostServices Services() { return {output, variables, console, game, http}; }

    std::vector<std::unique_ptr<PluginSession>> sessions; // every session this host opened
    ConsoleOutput output;
    ConsoleVariables variables;
    ReplayStore replays;
    UiFrames ui;
    Console console;
    HttpFacility http;
    GameThread game;

    // The loaded plugin; guarded so any thread may ask about it.
    mutable std::mutex pluginMutex;
    PluginSession* session = nullptr;
    std::shared_ptr<Orvane::Plugin::OrvanePlugin> plugin;
    const Orvane::Plugin::PluginRegistration* record = nullptr;
    LoadedModule module;
};

} // namespace devhost
