// How the host makes the SDK's wrappers and reads what they point at. The public headers keep
// both private and opaque (a plugin sees no host type); this is the one place that knows the
// wrappers' pointers hold a PluginSession or a ConsoleVariable.
#pragma once

#include <memory>

#include "ConsoleVariables.h"
#include "PluginSession.h"
#include "orvane/CVarManagerWrapper.h"
#include "orvane/CVarWrapper.h"
#include "orvane/GameWrapper.h"

struct SdkAccess {
    static std::shared_ptr<CVarManagerWrapper> MakeConsole(devhost::PluginSession& session)
    {
        return std::shared_ptr<CVarManagerWrapper>(new CVarManagerWrapper(&session));
    }
    static std::shared_ptr<GameWrapper> MakeGame(devhost::PluginSession& session)
    {
        return std::shared_ptr<GameWrapper>(new GameWrapper(&session));
    }
    static CVarWrapper MakeVariable(devhost::ConsoleVariable* variable) { return CVarWrapper(variable); }

    static devhost::PluginSession* Session(const CVarManagerWrapper& console)
    {
        return static_cast<devhost::PluginSession*>(console.session);
    }
    static devhost::PluginSession* Session(const GameWrapper& game)
    {
        return static_cast<devhost::PluginSession*>(game.session);
    }
    static devhost::ConsoleVariable* Variable(const CVarWrapper& wrapper)
    {
        return static_cast<devhost::ConsoleVariable*>(wrapper.variable);
    }
};
