// "Repairs this session": one row of two lines per upload, newest first. Each frame formats its
// texts straight into Dear ImGui's own buffer, so a frame allocates nothing of its own.
#include "RepairsSection.h"

#include <utility>

#include <fmt/format.h>
#include <imgui.h>

#include "Ravento.h"

namespace plugin {

namespace {

// The row's second line: what became of the upload, and what the player can do about it.
void DrawState(const RepairRecord& record)
{
    const char* id = record.replayId.c_str();
    switch (record.state) {
    case RepairState::Sending:
        ImGui::Text("  sending");
        break;
    case RepairState::Repaired:
        ImGui::Text("  repaired: play %s_fixed; the original is in %s", id, kBackupFolderName);
        break;
    case RepairState::NotRepairable:
        ImGui::Text("  not repairable: kept as %s_fixed, unchanged", id);
        break;
    case RepairState::RateLimited:
        ImGui::Text("  refused: 10 uploads per 30 minutes; play it again later");
        break;
    case RepairState::Failed:
        ImGui::Text("  failed: %s", record.failure.c_str());
        break;
    }
}

} // namespace

void FormatAge(std::chrono::steady_clock::duration age, char* buffer, std::size_t size)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(age).count();
    const auto [count, unit] = seconds < 60 ? std::pair{seconds, "s"}
        : seconds < 60 * 60                 ? std::pair{seconds / 60, "min"}
                                            : std::pair{seconds / (60 * 60), "h"};
    *fmt::format_to_n(buffer, size - 1, "{} {} ago", count, unit).out = '\0';
}

void DrawRepairsSection(const RepairHistory& history, RepairSnapshot& shown)
{
    history.Refresh(shown);
    if (shown.rows.empty())
        return;
    ImGui::Spacing();
    ImGui::Text("Repairs this session");
    const auto now = std::chrono::steady_clock::now();
    for (const RepairRecord& record : shown.rows) {
        char age[32];
        FormatAge(now - record.sentAt, age, sizeof age);
        ImGui::Text("%s, %s", record.replayId.c_str(), age);
        DrawState(record);
    }
}

} // namespace plugin
