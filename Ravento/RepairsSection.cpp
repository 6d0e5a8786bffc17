// "Repairs this session": one row of two lines per upload, newest first. Each frame formats its
// texts straight into Dear ImGui's own buffer, so a frame allocates nothing of its own.
#include "RepairsSection.h"

#include <utility>

#include <fmt/format.h>
#include <imgui.h>

namespace plugin {

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
        // What became of the upload, and what the player can do about it.
        ImGui::Text("  %s", record.outcome.empty() ? "sending" : record.outcome.c_str());
    }
}

} // namespace plugin
