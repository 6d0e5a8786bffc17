#include "FuzzedPlugin.h"

#include <utility>

FuzzedPlugin::FuzzedPlugin(std::unique_ptr<devhost::HttpTransport> transport) : host(Options(std::move(transport)))
{
    host.Plugin().demosFolder.Set(tree.Demos());
}

devhost::HostOptions FuzzedPlugin::Options(std::unique_ptr<devhost::HttpTransport> transport)
{
    devhost::HostOptions options;
    options.transport = std::move(transport);
    options.pluginLog = [this](const std::string& line) {
        std::lock_guard lock(mutex);
        pluginLines.push_back(line);
    };
    options.hostLog = [this](const std::string& line) {
        std::lock_guard lock(mutex);
        hostLines.push_back(line);
    };
    return options;
}

std::vector<std::string> FuzzedPlugin::Take(std::vector<std::string>& lines)
{
    std::lock_guard lock(mutex);
    return std::exchange(lines, {});
}
