#include "TestPlugin.h"

#include <cstring>
#include <stdexcept>

#include <imgui.h>
#include <imgui_stdlib.h>

#include "orvane/HttpWrapper.h"
#include "orvane/ReplayWrapper.h"

namespace {

std::shared_ptr<Orvane::Plugin::OrvanePlugin> holder;
const char kPlayReplay[] = "Function TAGame.ReplayManager_TA.PlayReplay";

} // namespace

std::function<void(TestPlugin&)> TestPlugin::onLoadAction;
int TestPlugin::liveObjects = 0;

TestPlugin::TestPlugin()
{
    ++liveObjects;
}

TestPlugin::~TestPlugin()
{
    --liveObjects;
}

void TestPlugin::onLoad()
{
    if (onLoadAction)
        onLoadAction(*this);
    else
        StandardLoad();
}

void TestPlugin::onUnload()
{
    cvarManager->log("test plugin unloaded");
}

void TestPlugin::StandardLoad()
{
    cvarManager->registerCvar("Test_Value", "start", "a test variable", true, false, 0.0f, false, 0.0f, true);
    cvarManager->log("test plugin loaded");
    gameWrapper->SetTimeout([this](GameWrapper*) { cvarManager->log("timeout fired"); }, 1.0f);
    gameWrapper->HookEventWithCallerPost<ActorWrapper>(kPlayReplay, [this](ActorWrapper, void* params, std::string) {
        std::uintptr_t address = 0;
        std::memcpy(&address, params, sizeof address);
        ReplayWrapper replay(address);
        if (!replay)
            cvarManager->log("played nothing");
        else
            cvarManager->log("played " + replay.GetId().ToString() + " " + replay.GetDate().ToString());
    });
}

void TestPlugin::AttachUiContext(std::uintptr_t context)
{
    attachedContext = context;
    ImGui::SetCurrentContext(reinterpret_cast<ImGuiContext*>(context));
}

void TestPlugin::OnWindowOpened()
{
    windowOpen = true;
    ++openedCalls;
    uiThread = std::this_thread::get_id();
}

void TestPlugin::OnWindowClosed()
{
    windowOpen = false;
    ++closedCalls;
    uiThread = std::this_thread::get_id();
}

void TestPlugin::DrawWindow()
{
    uiThread = std::this_thread::get_id();
    if (ImGui::Begin(MenuTitle().c_str(), &windowOpen, ImGuiWindowFlags_None)) {
        if (throwInsideWindow)
            throw std::runtime_error("draw broke");
        ImGui::Text("Replays folder:");
        ImGui::InputTextWithHint("##entry", "type a folder", &entry);
        if (ImGui::Button("Check"))
            cvarManager->log("checked " + entry);
    }
    ImGui::End();
    if (!windowOpen)
        cvarManager->executeCommand("togglemenu " + MenuName(), true);
}

std::shared_ptr<Orvane::Plugin::OrvanePlugin>* TestGetPlugin()
{
    if (!holder) {
        auto* plugin = new TestPlugin();
        holder = std::shared_ptr<Orvane::Plugin::OrvanePlugin>(
            plugin, [plugin](Orvane::Plugin::OrvanePlugin*) { delete plugin; });
    }
    return &holder;
}

void TestDeleteMe()
{
    holder.reset();
}

Orvane::Plugin::PluginRegistration TestPluginRecord()
{
    return {Orvane::Plugin::kSdkRevision,
            __FILE__,
            "TestPlugin",
            "a plugin for the host's tests",
            "0.1",
            1,
            &TestGetPlugin,
            &TestDeleteMe};
}
