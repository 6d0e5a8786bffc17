// devhost: the development host. Loads a plugin module like the Orvane host does and drives it
// with a script of commands (see ScriptParser.h). Plugin log lines go to standard output exactly
// as logged, and so do the results of show and cvar, each line after "= "; everything else the
// host says goes to standard error.
//
// With --gui the UI is a desktop window (GuiBackend.h) that also shows those lines: the script
// given with --script runs while the window is live, and devhost then keeps going until the
// window is closed, unless the script said quit. Closing the window ends the script after its
// current command.
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "DevhostOptions.h"
#include "ExecutablePath.h"
#include "GuiBackend.h"
#include "ScriptRun.h"
#include "orvane/host/Host.h"
#include "orvane/host/TextInput.h"

namespace {

int Fail(const std::string& message)
{
    fmt::print(stderr, "devhost: {}\n", message);
    return 1;
}

std::optional<std::filesystem::path> DefaultPluginPath()
{
    std::filesystem::path executable;
    if (ExecutablePath(executable))
        return std::nullopt;
    return executable.parent_path() / RAVENTO_MODULE_FILE_NAME;
}

// Results on standard output, complaints on standard error, each line flushed at once so the
// two streams interleave as they happened when both go to one terminal.
ScriptOutput StandardStreams()
{
    auto writeLine = [](std::FILE* stream, const std::string& line) {
        fmt::print(stream, "{}\n", line);
        std::fflush(stream);
    };
    return {[writeLine](const std::string& line) { writeLine(stdout, line); },
            [writeLine](const std::string& message) { writeLine(stderr, "devhost: " + message); }};
}

// Plugin and host lines go to the window's pane as well as to their streams.
std::optional<std::string> UseDesktopWindow(const DevhostOptions& options, devhost::HostOptions& hostOptions,
                                            GuiSession& gui)
{
    std::string error;
    hostOptions.uiBackend = MakeGuiBackendFactory(gui, options.uiSettings, error);
    if (!hostOptions.uiBackend)
        return error;
    hostOptions.pluginLog = gui.MirrorTo(stdout, false);
    hostOptions.hostLog = gui.MirrorTo(stderr, true);
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"devhost: loads an Orvane plugin module and drives it with a script of commands"};
    DevhostOptions options;
    AddDevhostOptions(app, options);
    CLI11_PARSE(app, argc, argv);

    if (options.plugin.empty()) {
        auto defaultPath = DefaultPluginPath();
        if (!defaultPath)
            return Fail("cannot find devhost's own folder; give the module with --plugin");
        options.plugin = *defaultPath;
    }
    // Read whole and bounded before anything starts; a FIFO, a directory or /dev/zero is refused.
    const bool runsScript = !options.script.empty() || !options.gui;
    std::istringstream script;
    if (runsScript) {
        std::string error;
        std::optional<std::string> text = options.script.empty()
            ? devhost::ReadTextStream(std::cin, "<stdin>", kScriptLimits, error)
            : devhost::ReadTextFile(options.script, kScriptLimits, error);
        if (!text)
            return Fail(error);
        script.str(std::move(*text));
    }

    devhost::HostOptions hostOptions;
    std::string transportError;
    hostOptions.transport = MakeNetworkTransport(options.network, transportError);
    if (!transportError.empty())
        return Fail(transportError);
    hostOptions.configFile = options.config;
    hostOptions.clock = devhost::ClockMode::RealTime;
    GuiSession gui;
    if (options.gui) {
        if (auto error = UseDesktopWindow(options, hostOptions, gui))
            return Fail(*error);
    }
    std::unique_ptr<devhost::Host> host;
    try {
        host = std::make_unique<devhost::Host>(std::move(hostOptions));
    } catch (const std::runtime_error& error) {
        return Fail(error.what()); // no desktop window, or an unreadable configuration file
    }
    if (auto error = host->LoadPluginModule(options.plugin))
        return Fail(*error);

    RunOutcome outcome = RunOutcome::Continue;
    auto windowClosed = [&gui] { return gui.IsClosed(); };
    if (runsScript)
        outcome = RunScript(*host, script, options.script.empty() ? "<stdin>" : options.script.string(),
                            StandardStreams(), windowClosed);
    if (options.gui && outcome == RunOutcome::Continue)
        gui.WaitUntilClosed();
    host->UnloadPlugin();
    return outcome == RunOutcome::Failed ? 1 : 0;
}
