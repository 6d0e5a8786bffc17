// Driving the plugin's window the way a user would: the mouse is moved over the window until
// Dear ImGui reports the wanted item under it, then pressed and released over two frames.
#include <vector>

#include <imgui.h>
#include <imgui_internal.h>

#include "UiFrames.h"

namespace orvane::host {
namespace {

// The plugin windows of the last frame: top-level, shown, not Dear ImGui's fallback window.
std::vector<ImGuiWindow*> ShownWindows()
{
    std::vector<ImGuiWindow*> shown;
    for (ImGuiWindow* window : GImGui->Windows) {
        if (window->WasActive && !window->Hidden && !window->IsFallbackWindow
            && !(window->Flags & ImGuiWindowFlags_ChildWindow))
            shown.push_back(window);
    }
    return shown;
}

} // namespace

bool UiFrames::Click(const std::string& label)
{
    bool clicked = false;
    thread.Call([&] {
        if (!open || !window)
            return;
        RunFrame();
        // An item directly in a window has the window's ID as its seed, as ImGui::GetID does there.
        std::vector<ImGuiID> targets;
        for (ImGuiWindow* shown : ShownWindows())
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
    });
    return clicked;
}

bool UiFrames::TypeText(const std::string& text)
{
    bool typed = false;
    thread.Call([&] {
        if (!open || !window || !FocusTextEntry())
            return;
        // Type at the end of what the entry holds, wherever the click put the cursor.
        ImGuiIO& io = ImGui::GetIO();
        io.KeysDown[io.KeyMap[ImGuiKey_End]] = true;
        RunFrame();
        io.KeysDown[io.KeyMap[ImGuiKey_End]] = false;
        io.AddInputCharactersUTF8(text.c_str());
        RunFrame();
        RunFrame();
        typed = true;
    });
    return typed;
}

bool UiFrames::FocusTextEntry()
{
    auto entryActive = [] { return GImGui->ActiveId != 0 && GImGui->ActiveId == GImGui->InputTextState.ID; };
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
    ImGuiIO& io = ImGui::GetIO();
    // Half a line of text: no button, entry or close button is smaller than that.
    const float step = ImMax(2.0f, GImGui->FontSize * 0.5f);
    for (ImGuiWindow* shown : ShownWindows()) {
        ImRect area = shown->Rect();
        for (float y = area.Min.y + 1.0f; y < area.Max.y; y += step) {
            for (float x = area.Min.x + 1.0f; x < area.Max.x; x += step) {
                io.MousePos = ImVec2(x, y);
                RunFrame();
                if (found())
                    return true;
            }
        }
    }
    return false;
}

void UiFrames::PressMouse()
{
    ImGuiIO& io = ImGui::GetIO();
    io.MouseDown[0] = true;
    RunFrame();
    io.MouseDown[0] = false;
    RunFrame();
}

} // namespace orvane::host
