// devhost: the development host. Loads a plugin module like the Orvane host does and drives it
// with a script of commands (see ScriptParser.h). Plugin log lines go to standard output exactly
// as logged; everything the host says goes to standard error.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "CommandRunner.h"
#include "DevhostOptions.h"
#include "ExecutablePath.h"
#include "ScriptParser.h"
#include "orvane/host/Host.h"

namespace {

constexpr std::chrono::seconds kSettleTimeout{30};

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

// Runs the script line by line; the first malformed line or failed command ends it.
int RunScript(orvane::host::Host& host, std::istream& script, const std::string& scriptName)
{
    CommandRunner runner(host, kSettleTimeout);
    std::string line;
    for (int number = 1; std::getline(script, line); ++number) {
        ParsedLine parsed = ParseScriptLine(line);
        if (!parsed.error.empty())
            return Fail(fmt::format("{}:{}: {}", scriptName, number, parsed.error));
        if (!parsed.command)
            continue;
        RunOutcome outcome = runner.Run(*parsed.command);
        if (outcome == RunOutcome::Failed)
            return Fail(fmt::format("{}:{}: command failed", scriptName, number));
        if (outcome == RunOutcome::Quit)
            break;
    }
    return 0;
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
    std::ifstream scriptFile;
    if (!options.script.empty()) {
        scriptFile.open(options.script);
        if (!scriptFile)
            return Fail(fmt::format("cannot open script {}", options.script.string()));
    }

    orvane::host::HostOptions hostOptions;
    std::string transportError;
    hostOptions.transport = MakeNetworkTransport(options.network, transportError);
    if (!transportError.empty())
        return Fail(transportError);
    hostOptions.configFile = options.config;
    hostOptions.clock = orvane::host::ClockMode::RealTime;
    orvane::host::Host host(std::move(hostOptions));
    if (auto error = host.LoadPluginModule(options.plugin))
        return Fail(*error);

    int status = options.script.empty() ? RunScript(host, std::cin, "<stdin>")
                                        : RunScript(host, scriptFile, options.script.string());
    host.UnloadPlugin();
    return status;
}
