#include "ReplaysPane.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include "PaneLayout.h"

namespace {

constexpr std::string_view kReplayExtension = ".replay";

bool IsReplayFile(const std::string& name)
{
    return name.size() > kReplayExtension.size()
        && name.compare(name.size() - kReplayExtension.size(), kReplayExtension.size(), kReplayExtension) == 0;
}

} // namespace

void ReplaysPane::Draw()
{
    session.CopyReplaysIfChanged(folder, version);
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    ImGui::SetNextWindowPos(ImVec2(display.x - pane_layout::kSideWidth, 0.0f));
    ImGui::SetNextWindowSize(ImVec2(pane_layout::kSideWidth, pane_layout::kReplaysHeight));
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoCollapse
        | ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus
        | ImGuiWindowFlags_NoFocusOnAppearing;
    if (ImGui::Begin("Replays", nullptr, flags)) {
        ImGui::TextUnformatted(folder.path.empty() ? "(the plugin has no replays folder yet)" : folder.path.c_str());
        ImGui::SetNextItemWidth(120.0f);
        ImGui::InputText("date the game gives the replay##date", &date);
        ImGui::SetCursorPosY(pane_layout::kReplayListTop);
        if (ImGui::BeginChild("files"))
            DrawFiles();
        ImGui::EndChild();
    }
    ImGui::End();
}

void ReplaysPane::DrawFiles()
{
    if (!folder.error.empty())
        ImGui::TextWrapped("cannot list it: %s", folder.error.c_str());
    else if (folder.files.empty() && !folder.path.empty())
        ImGui::TextUnformatted("(no files)");
    for (std::size_t i = 0; i < folder.files.size(); ++i) {
        const ReplayFile& file = folder.files[i];
        ImGui::SetCursorPosY(static_cast<float>(i) * pane_layout::kReplayRowHeight);
        ImGui::AlignTextToFramePadding();
        ImGui::Text("%s  (%ju bytes)", file.name.c_str(), file.size);
        if (!IsReplayFile(file.name))
            continue;
        ImGui::SameLine(pane_layout::kPlayButtonX);
        ImGui::PushID(static_cast<int>(i));
        if (ImGui::Button("Play", ImVec2(pane_layout::kPlayButtonWidth, 0.0f))) {
            const std::string id = file.name.substr(0, file.name.size() - kReplayExtension.size());
            // Quoted, so an identifier with blanks stays one word; the date likewise.
            session.QueueCommand("play \"" + id + "\" \"" + date + "\"");
        }
        ImGui::PopID();
    }
}
