// The window frame the host draws each UI frame; the plugin fills it in RenderWindow.
#include "window/PluginWindowBase.h"

#include <imgui.h>

#include "CallbackBoundary.h"
#include "ModuleConsole.h"
#include "PluginName.h"

using namespace plugin;

PluginWindowBase::PluginWindowBase() : menuTitle(kPluginName) {}

PluginWindowBase::~PluginWindowBase() = default;

void PluginWindowBase::DrawWindow()
{
    if (!ImGui::Begin(menuTitle.c_str(), &isWindowOpen, ImGuiWindowFlags_None)) {
        ImGui::End();
        return;
    }
    // Contained here so that End always pairs with Begin in the host's context.
    ContainErrors("RenderWindow", [this] { RenderWindow(); });
    ImGui::End();

    // The close button cleared isWindowOpen: ask the host to close our menu.
    if (!isWindowOpen)
        ContainErrors("DrawWindow", [this] { moduleConsole->executeCommand(ToggleMenuCommand(), true); });
}

std::string PluginWindowBase::MenuName()
{
    return kPluginName;
}

std::string PluginWindowBase::MenuTitle()
{
    return menuTitle;
}

void PluginWindowBase::AttachUiContext(std::uintptr_t context)
{
    ImGui::SetCurrentContext(reinterpret_cast<ImGuiContext*>(context));
}

bool PluginWindowBase::BlocksGameInput()
{
    const ImGuiIO& io = ImGui::GetIO();
    return io.WantCaptureMouse || io.WantCaptureKeyboard;
}

bool PluginWindowBase::IsOverlayActive()
{
    return true;
}

void PluginWindowBase::OnWindowOpened()
{
    isWindowOpen = true;
    windowOpenOrAsked = true;
}

void PluginWindowBase::OnWindowClosed()
{
    isWindowOpen = false;
    windowOpenOrAsked = false;
}

bool PluginWindowBase::ClaimWindowOpening()
{
    return !windowOpenOrAsked.exchange(true);
}

std::string PluginWindowBase::ToggleMenuCommand()
{
    return "togglemenu " + MenuName();
}
