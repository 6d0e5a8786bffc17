// An in-process host on the virtual clock with the test plugin linked in, and the host's own
// console lines kept for the test to look at.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestPlugin.h"
#include "orvane/host/Host.h"

class TestHost {
public:
    explicit TestHost(devhost::HostOptions options = {})
    {
        if (!options.pluginLog)
            options.pluginLog = [](const std::string&) {}; // kept by the host as PluginLogLines
        options.hostLog = [this](const std::string& line) {
            std::lock_guard lock(mutex);
            hostLines.push_back(line);
        };
        host = std::make_unique<devhost::Host>(std::move(options));
    }

    ~TestHost()
    {
        host.reset();
        TestPlugin::onLoadAction = nullptr;
    }

    devhost::Host& operator*() { return *host; }
    devhost::Host* operator->() { return host.get(); }

    // Loads the test plugin through its registration record; onLoad runs `onLoad` if given.
    TestPlugin& Load(std::function<void(TestPlugin&)> onLoad = {})
    {
        TestPlugin::onLoadAction = std::move(onLoad);
        auto error = host->LoadPlugin(record);
        EXPECT_FALSE(error) << *error;
        return static_cast<TestPlugin&>(*host->Plugin());
    }

    // Loads the test plugin and opens its window ("togglemenu Test"), drawn for two frames.
    TestPlugin& LoadWithOpenWindow()
    {
        TestPlugin& plugin = Load([](TestPlugin&) {});
        host->ExecuteCommand("togglemenu Test");
        host->RunFrames(2);
        return plugin;
    }

    bool HostSaid(const std::string& part) const
    {
        std::lock_guard lock(mutex);
        return std::any_of(hostLines.begin(), hostLines.end(),
                           [&](const std::string& line) { return line.find(part) != std::string::npos; });
    }

    const Orvane::Plugin::PluginRegistration record = TestPluginRecord();

private:
    mutable std::mutex mutex;
    std::vector<std::string> hostLines;
    std::unique_ptr<devhost::Host> host;
};
