// The window frame the host draws each UI frame; the plugin fills it in RenderWindow.
#include "window/PluginWindowBase.h"

#include <algorithm>
#include <cfloat>

#include <imgui.h>

#include "CallbackBoundary.h"
#include "ModuleConsole.h"
#include "PluginName.h"

using namespace plugin;

namespace {

// The width of a window the host remembers nothing of, in font heights: the panel's longest line
// fits, and wrapped outcomes have a width to wrap at.
constexpr float kFirstWidthInFontSizes = 32.0f;

// The height at which the current window's contents end at its bottom edge, but none that takes
// it past the display's bottom. Called after the contents, before End.
float HeightThatShowsContents()
{
    const ImGuiStyle& style = ImGui::GetStyle();
    const float contentsBottom = ImGui::GetCursorPosY() - style.ItemSpacing.y + style.WindowPadding.y;
    const float roomBelowTop = ImGui::GetIO().DisplaySize.y - ImGui::GetWindowPos().y;
    return std::max(0.0f, std::min(contentsBottom, roomBelowTop));
}

} // namespace

PluginWindowBase::PluginWindowBase() : menuTitle(kPluginName) {}

PluginWindowBase::~PluginWindowBase() = default;

void PluginWindowBase::DrawWindow()
{
    // Height 0: fitted to the contents.
    ImGui::SetNextWindowSize(ImVec2(kFirstWidthInFontSizes * ImGui::GetFontSize(), 0.0f), ImGuiCond_FirstUseEver);
    // Never shorter than last frame's contents: a row that arrives while the window is open shows
    // without the player resizing it, at the width the player chose.
    ImGui::SetNextWindowSizeConstraints(ImVec2(0.0f, leastHeight), ImVec2(FLT_MAX, FLT_MAX));
    if (!ImGui::Begin(menuTitle.c_str(), &isWindowOpen, ImGuiWindowFlags_None)) {
        ImGui::End();
        return;
    }
    // Contained here so that End always pairs with Begin in the host's context.
    ContainErrors("RenderWindow", [this] { RenderWindow(); });
    leastHeight = HeightThatShowsContents();
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
