// A small plugin for the host core's tests: a window with a line of text, a text entry and a
// "Check" button, and an onLoad the test chooses. The same code is built as a module
// (sdk_test_plugin) for the loader and devhost tests.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "orvane/OrvanePlugin.h"
#include "orvane/PluginRegistration.h"
#include "orvane/PluginWindow.h"

class TestPlugin : public Orvane::Plugin::OrvanePlugin, public Orvane::Plugin::PluginWindow {
public:
    // What onLoad does; when empty, StandardLoad.
    static std::function<void(TestPlugin&)> onLoadAction;
    // Counts live TestPlugin objects, so tests see when the host released one.
    static int liveObjects;

    TestPlugin();
    ~TestPlugin() override;

    void onLoad() override;
    void onUnload() override;

    // Registers "Test_Value", logs "timeout fired" one second later, and logs each replay played.
    void StandardLoad();

    void DrawWindow() override;
    std::string MenuName() override { return "Test"; }
    std::string MenuTitle() override { return "Test Window"; }
    void AttachUiContext(std::uintptr_t context) override;
    bool BlocksGameInput() override { return false; }
    bool IsOverlayActive() override { return true; }
    void OnWindowOpened() override;
    void OnWindowClosed() override;

    bool windowOpen = false;
    int openedCalls = 0;
    int closedCalls = 0;
    std::string entry;
    bool throwInsideWindow = false; // DrawWindow throws between Begin and End
    std::thread::id uiThread; // where the last window call ran
    std::uintptr_t attachedContext = 0;
};

// The test plugin's entry points and registration record, as a module exports them.
std::shared_ptr<Orvane::Plugin::OrvanePlugin>* TestGetPlugin();
void TestDeleteMe();
Orvane::Plugin::PluginRegistration TestPluginRecord();
