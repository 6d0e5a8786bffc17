#include "ConsolePane.h"

#include <algorithm>

#include <imgui.h>
#include <imgui_stdlib.h>

#include "PaneLayout.h"

namespace {

struct SourceStyle {
    const char* tag;
    ImVec4 colour;
};

// Plugin lines bright, host lines dimmed, typed commands in blue; the tag says it in words too.
SourceStyle StyleOf(LineSource source)
{
    switch (source) {
    case LineSource::Plugin:
        return {"plugin", ImVec4(0.92f, 0.94f, 0.80f, 1.0f)};
    case LineSource::Host:
        return {"host  ", ImVec4(0.62f, 0.66f, 0.72f, 1.0f)};
    case LineSource::Typed:
        return {"you   ", ImVec4(0.55f, 0.75f, 1.0f, 1.0f)};
    }
    return {"?", ImVec4(1.0f, 0.0f, 0.0f, 1.0f)};
}

} // namespace

void ConsolePane::Draw()
{
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const float height = std::min(pane_layout::kConsoleHeight, display.y * 0.5f);
    ImGui::SetNextWindowPos(ImVec2(0.0f, display.y - height));
    ImGui::SetNextWindowSize(ImVec2(display.x, height));
    // Fixed in place and always behind, so it never covers the plugin's window.
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoCollapse
        | ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus
        | ImGuiWindowFlags_NoFocusOnAppearing;
    if (ImGui::Begin("Host console", nullptr, flags)) {
        const float inputHeight = ImGui::GetFrameHeightWithSpacing();
        if (ImGui::BeginChild("lines", ImVec2(0.0f, -inputHeight)))
            DrawLines();
        ImGui::EndChild();
        DrawInput();
    }
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
            const SourceStyle style = StyleOf(line.source);
            ImGui::PushStyleColor(ImGuiCol_Text, style.colour);
            ImGui::TextDisabled("%s", style.tag);
            ImGui::SameLine();
            ImGui::TextUnformatted(line.text.c_str(), line.text.c_str() + line.text.size());
            ImGui::PopStyleColor();
        }
    }
    if (changed && followingTail)
        ImGui::SetScrollHereY(1.0f);
}

void ConsolePane::DrawInput()
{
    if (focusInput) {
        ImGui::SetKeyboardFocusHere();
        focusInput = false;
    }
    ImGui::SetNextItemWidth(-1.0f);
    const ImGuiInputTextFlags flags = ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_CallbackHistory;
    auto onHistoryKey = [](ImGuiInputTextCallbackData* data) {
        auto* pane = static_cast<ConsolePane*>(data->UserData);
        std::string text(data->Buf, static_cast<std::size_t>(data->BufTextLen));
        pane->RecallHistory(data->EventKey == ImGuiKey_UpArrow ? -1 : 1, text);
        data->DeleteChars(0, data->BufTextLen);
        data->InsertChars(0, text.c_str(), text.c_str() + text.size());
        return 0;
    };
    if (ImGui::InputTextWithHint("##command", "togglemenu Ravento, writeconfig, play ID DATE, show ... (Enter)",
                                 &input, flags, onHistoryKey, this))
        Submit();
}

void ConsolePane::Submit()
{
    focusInput = true; // Enter took the focus away; keep typing
    if (input.find_first_not_of(" \t") == std::string::npos)
        return;
    if (history.empty() || history.back() != input)
        history.push_back(input);
    historyPosition = history.size();
    session.QueueCommand(input);
    input.clear();
}

// Up goes back through the commands given, Down forward again, past the newest to an empty line.
void ConsolePane::RecallHistory(int step, std::string& text)
{
    if (history.empty())
        return;
    if (step < 0 && historyPosition > 0)
        --historyPosition;
    else if (step > 0 && historyPosition < history.size())
        ++historyPosition;
    text = historyPosition < history.size() ? history[historyPosition] : std::string();
}
