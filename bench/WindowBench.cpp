// A host UI frame with the plugin's window open, in each state of its panel, against a frame
// that draws the same widgets directly with Dear ImGui (the plugin's window closed). An empty
// frame shows what the host's frame itself costs.
//
// The two take turns in batches of frames. The states run in this order because the warning,
// once raised, stays for the module's life, and the repairs, once sent, for the plugin object's;
// for the same reason the frames run in a process that plays no replay (scripts/bench.sh).
#include <functional>
#include <string>

#include <benchmark/benchmark.h>
#include <imgui.h>
#include <imgui_stdlib.h>

#include "BenchHost.h"
#include "Paired.h"
#include "ReplyResult.h"
#include "platform/ReplayFiles.h"

namespace {

constexpr int kFrames = 100;

const char kEntryPrompt[] = "Enter the path to your demos folder...";
const char kWarning[] = "Please input a VALID directory to your Replays Folder";
const char kRateLimitNotice[] = "Rate Limit Hit (10 every 30 minutes)";
const char kRepairsHeading[] = "Repairs this session";

enum class Panel { Entry, Warning, RateLimit, Repairs };

// The warning stays once raised, so the list comes below it.
bool Warns(Panel panel)
{
    return panel == Panel::Warning || panel == Panel::Repairs;
}

// A full list: ten uploads of 32-digit identifiers, in every state the section words.
struct ListedRepair {
    int status; // 0: still sending
    plugin::ReplyResult result;
    const char* stateLine; // as the section draws it
};
const ListedRepair kRepairs[] = {
    {200, {}, "  repaired: play %s_fixed; the original is in OV_Ravento_BackupReplays"},
    {400, {}, "  not repairable: kept as %s_fixed, unchanged"},
    {429, {}, "  refused: 10 uploads per 30 minutes; play it again later"},
    {200, plugin::Failure(plugin::ReplyStep::MoveToBackup, platform::ReplayFileError(183)),
     "  failed: the original could not be moved to the backup folder (183)"},
    {500, plugin::Failure(plugin::ReplyStep::Transfer, {500, plugin::ServiceErrorCategory()}),
     "  failed: the service failed (500)"},
    {0, {}, "  sending"},
};
constexpr int kListed = plugin::RepairHistory::kCapacity;

std::string ListedId(int row)
{
    return std::string(31, "0123456789ABCDEF"[row]) + "F";
}

void ListRepairs(Ravento& plugin)
{
    for (int row = kListed - 1; row >= 0; --row) {
        const ListedRepair& repair = kRepairs[row % std::size(kRepairs)];
        auto upload = plugin.repairs.Sent(ListedId(row));
        if (repair.status != 0)
            plugin.repairs.Finish(upload, ::plugin::OutcomeWords(ListedId(row), repair.status, repair.result));
    }
}

// Puts the plugin in that state; false if its window does not show it.
bool EnterState(BenchHost& host, Panel panel)
{
    Ravento& plugin = host.Plugin();
    plugin.rateLimitHit = panel == Panel::RateLimit;
    host.SetReferenceWidgets(nullptr);
    host.SetPluginWindowOpen(true);
    if (Warns(panel) && host.PluginWindowText().find(kWarning) == std::string::npos)
        host.Click("Check"); // an empty entry is no folder
    std::string text = host.PluginWindowText();
    bool warned = text.find(kWarning) != std::string::npos;
    bool limited = text.find(kRateLimitNotice) != std::string::npos;
    if (panel == Panel::Repairs && text.find(kRepairsHeading) == std::string::npos) {
        ListRepairs(plugin);
        text = host.PluginWindowText();
    }
    bool listed = text.find(kRepairsHeading) != std::string::npos;
    return limited == (panel == Panel::RateLimit) && warned == Warns(panel) && listed == (panel == Panel::Repairs);
}

// The section's rows drawn the plain way, with fixed texts.
void DirectRepairs()
{
    ImGui::Spacing();
    ImGui::Text(kRepairsHeading);
    for (int row = 0; row < kListed; ++row) {
        const std::string id = ListedId(row);
        ImGui::Text("%s, %s", id.c_str(), "0 s ago");
        ImGui::Text(kRepairs[row % std::size(kRepairs)].stateLine, id.c_str());
    }
}

// The panel's widgets, drawn the plain way in a window of the same title.
std::function<void()> DirectWidgets(Panel panel)
{
    return [panel, typed = std::string(), open = true]() mutable {
        if (ImGui::Begin("Ravento", &open, ImGuiWindowFlags_None)) {
            if (panel == Panel::RateLimit) {
                ImGui::Text(kRateLimitNotice);
            } else {
                ImGui::Text(kEntryPrompt);
                if (Warns(panel))
                    ImGui::Text(kWarning);
                ImGui::InputTextWithHint("##DemosFolderPath", "Replay Folder Path...", &typed);
                ImGui::Button("Check");
            }
            if (panel == Panel::Repairs)
                DirectRepairs();
        }
        ImGui::End();
    };
}

// The plugin's window in that state against the direct widgets, in turn.
void Frame(benchmark::State& state)
{
    BenchHost& host = SharedBenchHost();
    auto panel = static_cast<Panel>(state.range(0));
    if (!EnterState(host, panel)) {
        state.SkipWithError("the plugin's window does not show the state");
        return;
    }
    RunPaired(
        state, kFrames,
        [&](int frames) {
            host.SetReferenceWidgets(nullptr);
            host.SetPluginWindowOpen(true);
            return host.TimeFrames(frames);
        },
        [&](int frames) {
            host.SetPluginWindowOpen(false);
            host.SetReferenceWidgets(DirectWidgets(panel));
            return host.TimeFrames(frames);
        });
    host.SetReferenceWidgets(nullptr);
}

void EmptyFrame(benchmark::State& state)
{
    BenchHost& host = SharedBenchHost();
    host.SetPluginWindowOpen(false);
    host.SetReferenceWidgets(nullptr);
    for (auto _ : state)
        state.SetIterationTime(host.TimeFrames(kFrames));
    state.counters["batch"] = kFrames;
}

void PanelStates(benchmark::internal::Benchmark* benchmark)
{
    benchmark->ArgNames({"state"});
    for (Panel panel : {Panel::Entry, Panel::Warning, Panel::RateLimit, Panel::Repairs})
        benchmark->Args({static_cast<int>(panel)});
    benchmark->UseManualTime()->Unit(benchmark::kMicrosecond);
}

} // namespace

BENCHMARK(EmptyFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(Frame)->Apply(PanelStates);
