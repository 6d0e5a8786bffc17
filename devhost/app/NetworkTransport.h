// How devhost reaches the repair service. With the network: libcurl, always, against the URL the plugin
// names; --connect-to and --cacert point that URL at a local stand-in service. Without them
// the default service name never resolves, so each upload fails with status 0 and nothing
// leaves the machine. Windows too (libcurl with Schannel). A POSIX build without libcurl
// (RAVENTO_NETWORK=OFF): requests stay unanswered.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "orvane/host/HttpTransport.h"

struct NetworkOptions {
    std::vector<std::string> connectTo; // "HOST:PORT:ADDR:PORT", curl's CONNECT_TO
    std::filesystem::path caFile; // curl's CAINFO
};

// The transport for the host, or null for the host's default (requests never answered).
// Sets error and returns null when the options cannot be honoured.
std::unique_ptr<devhost::HttpTransport> MakeNetworkTransport(const NetworkOptions& options, std::string& error);
