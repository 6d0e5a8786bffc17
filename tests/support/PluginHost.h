// An in-process stand-in host (virtual clock, recording transport, no configuration file
// unless given) with the Ravento plugin linked into the test and loaded through its
// registration record, exactly as the host loads a module.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Ravento.h"
#include "orvane/host/Host.h"

namespace testing_support {

class PluginHost {
public:
    explicit PluginHost(devhost::HostOptions options = {});
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    devhost::Host& Host() { return *host; }
    // The loaded plugin object.
    Ravento& Plugin() const;

    std::vector<std::string> Log() const;
    // Commands the plugin issued, each as "TEXT [true|false]" with executeCommand's flag.
    std::vector<std::string> Commands() const;
    // The console variable's value, or "<missing>".
    std::string Variable(const std::string& name) const;

    // Opens the plugin's window as the host console does ("togglemenu Ravento") and draws it
    // until it shows. Throws std::logic_error when it did not open.
    void OpenWindow();

private:
    std::unique_ptr<devhost::Host> host;
};

} // namespace testing_support
