#include "RequestsPane.h"

#include <string>

#include <fmt/format.h>
#include <imgui.h>

#include "PaneLayout.h"

namespace {

std::string StatusText(const RequestRecord& record)
{
    if (!record.answered)
        return "waiting";
    if (record.status == 0)
        return "failed";
    return std::to_string(record.status);
}

std::string TimeText(const RequestRecord& record)
{
    auto took = record.took;
    if (!record.answered)
        took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - record.started);
    return fmt::format("{} ms", took.count());
}

} // namespace

void RequestsPane::Draw()
{
    log.CopyIfChanged(records, version);
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const float top = pane_layout::kReplaysHeight;
    const float bottom = display.y - pane_layout::kConsoleHeight;
    ImGui::SetNextWindowPos(ImVec2(display.x - pane_layout::kSideWidth, top));
    ImGui::SetNextWindowSize(ImVec2(pane_layout::kSideWidth, bottom > top ? bottom - top : 0.0f));
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoCollapse
        | ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus
        | ImGuiWindowFlags_NoFocusOnAppearing;
    if (ImGui::Begin("Requests", nullptr, flags)) {
        if (records.empty())
            ImGui::TextUnformatted("(no requests yet)");
        else
            DrawTable();
    }
    ImGui::End();
}

void RequestsPane::DrawTable()
{
    const ImGuiTableFlags flags = ImGuiTableFlags_RowBg | ImGuiTableFlags_ScrollY | ImGuiTableFlags_SizingFixedFit;
    if (!ImGui::BeginTable("requests", 5, flags))
        return;
    ImGui::TableSetupScrollFreeze(0, 1);
    for (const char* heading : {"#", "status", "sent", "received", "time"})
        ImGui::TableSetupColumn(heading);
    ImGui::TableHeadersRow();
    for (std::size_t i = records.size(); i-- > 0;) {
        const RequestRecord& record = records[i];
        ImGui::TableNextRow();
        ImGui::TableNextColumn();
        ImGui::Text("%zu", i + 1);
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(StatusText(record).c_str());
        if (!record.reason.empty() && ImGui::IsItemHovered())
            ImGui::SetTooltip("%s", record.reason.c_str());
        ImGui::TableNextColumn();
        ImGui::Text("%ju bytes", static_cast<std::uintmax_t>(record.bytesSent));
        ImGui::TableNextColumn();
        ImGui::Text("%ju bytes", static_cast<std::uintmax_t>(record.bytesReceived));
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(TimeText(record).c_str());
    }
    ImGui::EndTable();
}
