// Driving the plugin's window the way a user would: the mouse is moved over the window until
// Dear ImGui reports the wanted item under it, then pressed and released over two frames. The
// host's pointer replaces the user's mouse only while it does so.
#include <algorithm>
#include <vector>

#include <imgui.h>
#include <imgui_internal.h>

#include "UiFrames.h"

namespace devhost {

// The plugin windows of the frame just built: top-level, shown, neither Dear ImGui's fallback
// window nor one of the backend's own.
std::vector<ImGuiWindow*> UiFrames::PluginWindows() const
{
    std::vector<ImGuiWindow*> shown;
    for (ImGuiWindow* window : GImGui->Windows) {
        const bool hostWindow = std::find(hostWindows.begin(), hostWindows.end(), window->ID) != hostWindows.end();
        if (window->Active && !window->Hidden && !window->IsFallbackWindow && !hostWindow
            && !(window->Flags & ImGuiWindowFlags_ChildWindow))
            shown.push_back(window);
    }
    return shown;
}

std::optional<UiRegion> UiFrames::PluginWindowsRegion() const
{
    std::vector<ImGuiWindow*> shown = PluginWindows();
    if (shown.empty())
        return std::nullopt;
    ImRect area = shown.front()->Rect();
    for (ImGuiWindow* window : shown)
        area.Add(window->Rect());
    // A little of what lies around, so the window's border shows whole.
    area.Expand(4.0f);
    area.ClipWith(ImRect(ImVec2(0.0f, 0.0f), GImGui->IO.DisplaySize));
    return UiRegion{area.Min.x, area.Min.y, area.GetWidth(), area.GetHeight()};
}

bool UiFrames::Click(const std::string& label)
{
    bool clicked = false;
    thread.Call([&] {
        if (!open || !window)
            return;
        DrawUntilShown();
        RunFrame();
        // An item directly in a window has the window's ID as its seed, as ImGui::GetID does there.
        std::vector<ImGuiID> targets;
        for (ImGuiWindow* shown : PluginWindows())
            targets.push_back(ImHashStr(label.c_str(), 0, shown->ID));
        clicked = HoverItem([&] {
            for (ImGuiID target : targets) {
                if (GImGui->HoveredId == target)
                    return true;
            }
            return false;
        });
        if (clicked)
            PressMouse();
        scriptedPointer.reset();
    });
    return clicked;
}

bool UiFrames::TypeText(const std::string& text)
{
    return WithFocusedEntry([&] {
        // Type at the end of what the entry holds, wherever the click put the cursor.
        PressKey(ImGuiKey_End);
        ImGui::GetIO().AddInputCharactersUTF8(text.c_str());
        RunFrame();
        RunFrame();
    });
}

bool UiFrames::ClearText()
{
    return WithFocusedEntry([&] {
        scriptedCtrl = true;
        PressKey(ImGuiKey_A);
        scriptedCtrl = false;
        ImGui::GetIO().KeyCtrl = false;
        PressKey(ImGuiKey_Delete);
        RunFrame();
    });
}

bool UiFrames::WithFocusedEntry(const std::function<void()>& act)
{
    bool acted = false;
    thread.Call([&] {
        bool focused = open && window && FocusTextEntry();
        scriptedPointer.reset();
        if (!focused)
            return;
        act();
        acted = true;
    });
    return acted;
}

// Down for one frame, up for the next: Dear ImGui acts on the press.
void UiFrames::PressKey(int imguiKey)
{
    ImGuiIO& io = ImGui::GetIO();
    io.KeysDown[io.KeyMap[imguiKey]] = true;
    RunFrame();
    io.KeysDown[io.KeyMap[imguiKey]] = false;
}

bool UiFrames::FocusTextEntry()
{
    auto entryActive = [] { return GImGui->ActiveId != 0 && GImGui->ActiveId == GImGui->InputTextState.ID; };
    DrawUntilShown();
    RunFrame();
    if (entryActive())
        return true;
    // A text entry sets the text cursor while the mouse is over it.
    if (!HoverItem([] { return ImGui::GetMouseCursor() == ImGuiMouseCursor_TextInput; }))
        return false;
    PressMouse();
    return entryActive();
}

// Moves the mouse over the shown windows, a frame per position, until found() holds.
bool UiFrames::HoverItem(const std::function<bool()>& found)
{
    // Half a line of text: no button, entry or close button is smaller than that.
    const float step = ImMax(2.0f, GImGui->FontSize * 0.5f);
    for (ImGuiWindow* shown : PluginWindows()) {
        ImRect area = shown->Rect();
        for (float y = area.Min.y + 1.0f; y < area.Max.y; y += step) {
            for (float x = area.Min.x + 1.0f; x < area.Max.x; x += step) {
                scriptedPointer = ScriptedPointer{x, y, false};
                RunFrame();
                if (found())
                    return true;
            }
        }
    }
    return false;
}

// Where the last hover left the pointer.
void UiFrames::PressMouse()
{
    if (!scriptedPointer)
        return;
    scriptedPointer->down = true;
    RunFrame();
    scriptedPointer->down = false;
    RunFrame();
}

} // namespace devhost
