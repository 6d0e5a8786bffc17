#include "PluginHost.h"

#include <stdexcept>

#include <fmt/core.h>

#include "Exports.h"

namespace testing_support {

namespace {

devhost::HostOptions Quiet(devhost::HostOptions options)
{
    // The host keeps the plugin's lines for the tests; printing them would only add noise.
    if (!options.pluginLog)
        options.pluginLog = [](const std::string&) {};
    return options;
}

} // namespace

PluginHost::PluginHost(devhost::HostOptions options) : host(std::make_unique<devhost::Host>(Quiet(std::move(options))))
{
    if (std::optional<std::string> error = host->LoadPlugin(exports))
        throw std::runtime_error("loading the plugin failed: " + *error);
}

PluginHost::~PluginHost()
{
    host->UnloadPlugin();
}

Ravento& PluginHost::Plugin() const
{
    std::shared_ptr<Orvane::Plugin::OrvanePlugin> plugin = host->Plugin();
    if (!plugin)
        throw std::logic_error("no plugin is loaded");
    return static_cast<Ravento&>(*plugin);
}

std::vector<std::string> PluginHost::Log() const
{
    return host->PluginLogLines();
}

std::vector<std::string> PluginHost::Commands() const
{
    std::vector<std::string> commands;
    for (const devhost::ExecutedCommand& command : host->ExecutedCommands()) {
        if (command.fromPlugin)
            commands.push_back(fmt::format("{} [{}]", command.text, command.echo));
    }
    return commands;
}

std::string PluginHost::Variable(const std::string& name) const
{
    std::optional<devhost::ConsoleVariableInfo> variable = host->Variable(name);
    return variable ? variable->value : "<missing>";
}

void PluginHost::OpenWindow()
{
    if (!host->ExecuteCommand("togglemenu Ravento") || !host->IsWindowOpen())
        throw std::logic_error("the plugin's window did not open");
    // A new window sizes itself to its contents over its first frames, hidden.
    host->RunFrames(3);
}

} // namespace testing_support
