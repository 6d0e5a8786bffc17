// "Repairs this session": one row of two lines per upload, newest first, outcomes wrapped.
// Each frame formats its texts straight into Dear ImGui's own buffer, so a frame allocates nothing
// of its own.
#include "RepairsSection.h"

#include <utility>

#include <fmt/format.h>
#include <imgui.h>

namespace plugin {

namespace {

// The identifier and age, then what became of the upload, wrapped at the window's edge so that a
// long outcome is read whole.
void DrawRow(const RepairRecord& record, std::chrono::steady_clock::time_point now)
{
    char age[32];
    FormatAge(now - record.sentAt, age, sizeof age);
    ImGui::Text("%s, %s", record.replayId.c_str(), age);
    ImGui::TextWrapped("  %s", record.outcome.empty() ? "sending" : record.outcome.c_str());
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
    for (const RepairRecord& record : shown.rows)
        DrawRow(record, now);
}

} // namespace plugin
