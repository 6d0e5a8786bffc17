// The window interface a plugin implements to get one window in the host's overlay.
// The slot order is part of the host's binary interface.
#pragma once

#include <cstdint>
#include <string>

#include "orvane/SdkApi.h"

namespace Orvane::Plugin {

class ORVANE_INTERFACE PluginWindow {
public:
    virtual void DrawWindow() = 0; // once per UI frame while open
    virtual std::string MenuName() = 0; // the name "togglemenu" takes
    virtual std::string MenuTitle() = 0;
    virtual void AttachUiContext(std::uintptr_t context) = 0; // address of the host's ImGuiContext
    virtual bool BlocksGameInput() = 0;
    virtual bool IsOverlayActive() = 0;
    virtual void OnWindowOpened() = 0;
    virtual void OnWindowClosed() = 0;
    virtual ~PluginWindow() = default;
};

} // namespace Orvane::Plugin
