// devhost: the development host. Loads a plugin module like the Orvane host does and drives it
// with a script of commands (see ScriptParser.h). Plugin log lines go to standard output exactly
// as logged, and so do the results of show and cvar, each line after "= "; everything else the
// host says goes to standard error.
//
// With --gui the UI is a desktop window (GuiBackend.h) that also shows those lines: the script
// given with --script runs while the window is live, and devhost then runs the commands typed
// into the window (GuiCommands.h) until the window is closed, unless the script said quit.
// Closing the window ends the script after its current command.
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
#include "GuiCommands.h"
#include "ScriptRun.h"
#include "orvane/host/Host.h"
#include "orvane/host/RecordingTransport.h"
#include "orvane/host/TextInput.h"

namespace {

int Fail(const std::string& message)
{
    fmt::print(stderr, "devhost: {}\n", message);
    // Redirected to a file, Windows' C runtime buffers standard error: the reason must be out
    // before anything at exit can go wrong.
    std::fflush(stderr);
    return 1;
}

std::optional<std::filesystem::path> DefaultPluginPath()
{
    std::filesystem::path executable;
    if (ExecutablePath(executable))
        return std::nullopt;
    return executable.parent_path() / RAVENTO_MODULE_FILE_NAME;
}

// A module built for another system fails to load with the loader's terse words; say what to
// run instead.
std::string ForeignModuleHint(const std::filesystem::path& plugin)
{
    const auto nativeExtension = std::filesystem::path(RAVENTO_MODULE_FILE_NAME).extension();
    if (plugin.extension() == nativeExtension || plugin.extension() != ".dll")
        return {};
    return "\n  a .dll is a Windows module: run it with the Windows build's devhost.exe under Wine "
           "(build/windows/bin/devhost.exe, see docs/windows.md)";
}

// Results on standard output, complaints on standard error, each line flushed at once so the
// two streams interleave as they happened when both go to one terminal.
// With a desktop window, they go to its console pane too.
ScriptOutput StandardStreams(GuiSession* gui)
{
    auto sink = [gui](std::FILE* stream) -> std::function<void(const std::string&)> {
        if (gui)
            return gui->MirrorTo(stream, LineSource::Host);
        return [stream](const std::string& line) {
            fmt::print(stream, "{}\n", line);
            std::fflush(stream);
        };
    };
    auto toStderr = sink(stderr);
    return {sink(stdout), [toStderr](const std::string& message) { toStderr("devhost: " + message); }};
}

// Plugin and host lines go to the window's pane as well as to their streams, and the requests
// pane sees every request on its way through the transport.
std::optional<std::string> UseDesktopWindow(const DevhostOptions& options, devhost::HostOptions& hostOptions,
                                            GuiSession& gui)
{
    std::string error;
    hostOptions.uiBackend = MakeGuiBackendFactory(gui, options.uiSettings, error);
    if (!hostOptions.uiBackend)
        return error;
    hostOptions.pluginLog = gui.MirrorTo(stdout, LineSource::Plugin);
    hostOptions.hostLog = gui.MirrorTo(stderr, LineSource::Host);
    if (!hostOptions.transport)
        hostOptions.transport = std::make_unique<devhost::RecordingTransport>();
    hostOptions.transport = gui.Requests().Recording(std::move(hostOptions.transport));
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"devhost: loads an Orvane plugin module and drives it with a script of commands"};
    DevhostOptions options;
    AddDevhostOptions(app, options);
    if (auto exitStatus = ParseDevhostOptions(app, argc, argv))
        return *exitStatus;

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
        return Fail(*error + ForeignModuleHint(options.plugin));

    RunOutcome outcome = RunOutcome::Continue;
    const ScriptOutput output = StandardStreams(options.gui ? &gui : nullptr);
    // Between script lines: the replays pane follows the folder, and a closed window stops the run.
    auto betweenLines = [&gui, &host, &options] {
        if (options.gui)
            gui.SetReplays(ListReplaysFolder(*host));
        return gui.IsClosed();
    };
    if (runsScript)
        outcome = RunScript(*host, script, options.script.empty() ? "<stdin>" : options.script.string(), output,
                            betweenLines);
    if (options.gui && outcome == RunOutcome::Continue)
        outcome = RunTypedCommands(*host, gui, output);
    host->UnloadPlugin();
    return outcome == RunOutcome::Failed ? 1 : 0;
}
