// The plugin's side of the host's window interface: a Dear ImGui window titled menuTitle with
// a close button, never shorter than its contents; the contents come from RenderWindow.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "orvane/PluginWindow.h"

class PluginWindowBase : public Orvane::Plugin::PluginWindow {
public:
    PluginWindowBase();
    ~PluginWindowBase() override;

    void DrawWindow() override;
    std::string MenuName() override;
    std::string MenuTitle() override;
    void AttachUiContext(std::uintptr_t context) override;
    bool BlocksGameInput() override;
    bool IsOverlayActive() override;
    void OnWindowOpened() override;
    void OnWindowClosed() override;

    virtual void RenderWindow() = 0;

    // "togglemenu Ravento": the console command that opens or closes this window.
    std::string ToggleMenuCommand();
    // True when the window is neither open nor asked to open, and marks it asked: the caller then
    // issues ToggleMenuCommand to open it. Any thread; a toggle meant to open never closes.
    bool ClaimWindowOpening();

protected:
    bool isWindowOpen = false; // the UI thread's, handed to Dear ImGui
    std::atomic<bool> windowOpenOrAsked{false};
    std::string menuTitle;

private:
    // The UI thread's: the height last frame's contents took, up to the display's bottom.
    float leastHeight = 0.0f;
};
