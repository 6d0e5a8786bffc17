// The plugin loaded into an in-process host for a fuzz target, kept for the whole run, with the
// lines it and the host log collected per input and its replays folder in a ReplayTree.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ReplayTree.h"
#include "orvane/host/HttpTransport.h"
#include "support/PluginHost.h"

class FuzzedPlugin {
public:
    // A null transport: the host's recording transport, which never answers.
    explicit FuzzedPlugin(std::unique_ptr<orvane::host::HttpTransport> transport = nullptr);

    Ravento& Plugin() { return host.Plugin(); }
    orvane::host::Host& Host() { return host.Host(); }

    // The lines logged since the last call.
    std::vector<std::string> TakePluginLines() { return Take(pluginLines); }
    std::vector<std::string> TakeHostLines() { return Take(hostLines); }

    ReplayTree tree;

private:
    orvane::host::HostOptions Options(std::unique_ptr<orvane::host::HttpTransport> transport);
    std::vector<std::string> Take(std::vector<std::string>& lines);

    std::mutex mutex;
    std::vector<std::string> pluginLines;
    std::vector<std::string> hostLines;
    testing_support::PluginHost host;
};
