#include "ConsolePane.h"

#include <algorithm>

#include <imgui.h>

namespace {

constexpr float kPaneHeight = 220.0f;
const ImVec4 kHostLineColour(0.62f, 0.66f, 0.72f, 1.0f);

} // namespace

void ConsolePane::Draw()
{
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const float height = std::min(kPaneHeight, display.y * 0.5f);
    ImGui::SetNextWindowPos(ImVec2(0.0f, display.y - height));
    ImGui::SetNextWindowSize(ImVec2(display.x, height));
    // Fixed in place and always behind, so it never covers the plugin's window.
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoCollapse
        | ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus
        | ImGuiWindowFlags_NoFocusOnAppearing;
    if (ImGui::Begin("Host console", nullptr, flags))
        DrawLines();
    ImGui::End();
}

void ConsolePane::DrawLines()
{
    // Measured before this frame's lines are laid out: was the reader at the end?
    const bool followingTail = ImGui::GetScrollY() >= ImGui::GetScrollMaxY();
    const bool changed = session.CopyLinesIfChanged(lines, version);

    ImGuiListClipper clipper;
    clipper.Begin(static_cast<int>(lines.size()));
    while (clipper.Step()) {
        for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i) {
            const ConsoleLine& line = lines[static_cast<std::size_t>(i)];
            if (line.fromHost)
                ImGui::PushStyleColor(ImGuiCol_Text, kHostLineColour);
            ImGui::TextUnformatted(line.text.c_str(), line.text.c_str() + line.text.size());
            if (line.fromHost)
                ImGui::PopStyleColor();
        }
    }
    if (changed && followingTail)
        ImGui::SetScrollHereY(1.0f);
}
