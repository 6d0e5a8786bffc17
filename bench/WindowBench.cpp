// A host UI frame with the plugin's window open, in each state of its panel, against a frame
// that draws the same widgets directly with Dear ImGui (the plugin's window closed). An empty
// frame shows what the host's frame itself costs.
//
// The two take turns in batches of frames. The states run in this order because the warning,
// once raised, stays for the module's life.
#include <functional>
#include <string>

#include <benchmark/benchmark.h>
#include <imgui.h>
#include <imgui_stdlib.h>

#include "BenchHost.h"
#include "Paired.h"

namespace {

constexpr int kFrames = 100;

const char kEntryPrompt[] = "Enter the path to your demos folder...";
const char kWarning[] = "Please input a VALID directory to your Replays Folder";
const char kRateLimitNotice[] = "Rate Limit Hit (10 every 30 minutes)";

enum class Panel { Entry, Warning, RateLimit };

// Puts the plugin in that state; false if its window does not show it.
bool EnterState(BenchHost& host, Panel panel)
{
    Ravento& plugin = host.Plugin();
    plugin.rateLimitHit = panel == Panel::RateLimit;
    host.SetReferenceWidgets(nullptr);
    host.SetPluginWindowOpen(true);
    if (panel == Panel::Warning && host.PluginWindowText().find(kWarning) == std::string::npos)
        host.Click("Check"); // an empty entry is no folder
    std::string text = host.PluginWindowText();
    bool warned = text.find(kWarning) != std::string::npos;
    bool limited = text.find(kRateLimitNotice) != std::string::npos;
    return limited == (panel == Panel::RateLimit) && warned == (panel == Panel::Warning);
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
                if (panel == Panel::Warning)
                    ImGui::Text(kWarning);
                ImGui::InputTextWithHint("##DemosFolderPath", "Replay Folder Path...", &typed);
                ImGui::Button("Check");
            }
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
    for (Panel panel : {Panel::Entry, Panel::Warning, Panel::RateLimit})
        benchmark->Args({static_cast<int>(panel)});
    benchmark->UseManualTime()->Unit(benchmark::kMicrosecond);
}

} // namespace

BENCHMARK(EmptyFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(Frame)->Apply(PanelStates);
