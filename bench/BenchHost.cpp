#include "BenchHost.h"

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <vector>

#include <imgui.h>

#include "Exports.h"
#include "orvane/GameWrapper.h"
#include "orvane/host/AdoptUiContext.h"
#include "orvane/host/Host.h"
#include "orvane/host/HttpTransport.h"
#include "orvane/host/UiBackend.h"

namespace {

// The benchmarks' own game event: its hook runs the timed work on the game thread.
constexpr char kBatchEvent[] = "Bench.TimedBatch";
constexpr std::chrono::seconds kSettleTimeout{60};

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

// Keeps every request unanswered until AnswerAll, so replies never run while something is timed.
class HeldTransport : public devhost::HttpTransport {
public:
    ~HeldTransport() override { AnswerAll(0); }

    void Send(CurlRequest, Completion done) override
    {
        std::lock_guard lock(mutex);
        held.push_back(std::move(done));
    }

    void AnswerAll(int status)
    {
        std::vector<Completion> answering;
        {
            std::lock_guard lock(mutex);
            answering.swap(held);
        }
        for (Completion& done : answering)
            done(status, {}, "the benchmark answered");
    }

private:
    std::mutex mutex;
    std::vector<Completion> held;
};

// A headless UI that draws the benchmark's reference widgets in each frame. The benchmark links
// the plugin in, so both draw through the same copy of Dear ImGui.
class ReferenceUiBackend : public devhost::UiBackend {
public:
    void Init(ImGuiContext* context) override { devhost::AdoptUiContext(context); }

    void PrepareFrame(ImGuiIO& io) override
    {
        io.DisplaySize = ImVec2(1280.0f, 720.0f);
        io.DeltaTime = 1.0f / 144.0f;
    }

    void DrawHostWindows() override
    {
        if (widgets)
            widgets();
    }

    void PresentFrame(ImDrawData*) override {}

    std::optional<std::string> SaveFrame(ImDrawData*, const std::filesystem::path&,
                                         const std::optional<devhost::UiRegion>&) override
    {
        return std::string("no pixels in a benchmark");
    }

    // Written only between frames: the host's frame calls wait for the UI thread.
    std::function<void()> widgets;
};

BenchHost::BenchHost()
{
    devhost::HostOptions options;
    auto held = std::make_unique<HeldTransport>();
    transport = held.get();
    options.transport = std::move(held);
    options.pluginLog = [](const std::string&) {};
    options.hostLog = [](const std::string&) {};
    options.uiBackend = [this] {
        auto reference = std::make_unique<ReferenceUiBackend>();
        backend = reference.get();
        return reference;
    };
    host = std::make_unique<devhost::Host>(std::move(options));
    if (std::optional<std::string> error = host->LoadPlugin(exports))
        throw std::runtime_error("loading the plugin failed: " + *error);
    Plugin().gameWrapper->HookEventWithCallerPost<ActorWrapper>(kBatchEvent,
                                                                [this](ActorWrapper, void* params, std::string) {
                                                                    auto start = std::chrono::steady_clock::now();
                                                                    for (int run = 0; run < batchCount; ++run)
                                                                        (*batchWork)(params);
                                                                    batchSeconds = SecondsSince(start);
                                                                });
}

BenchHost::~BenchHost()
{
    host->UnloadPlugin();
}

Ravento& BenchHost::Plugin()
{
    return static_cast<Ravento&>(*host->Plugin());
}

std::uintptr_t BenchHost::CreateReplay(const std::string& id, const std::string& date)
{
    return host->CreateReplay(id, date);
}

double BenchHost::TimeOnGameThread(std::uintptr_t replay, int count, const std::function<void(void*)>& work)
{
    batchWork = &work;
    batchCount = count;
    host->FireEvent(kBatchEvent, replay);
    return batchSeconds;
}

void BenchHost::AnswerRequests()
{
    transport->AnswerAll(500);
    if (!host->Settle(kSettleTimeout))
        throw std::runtime_error("the replies were not handled in time");
}

void BenchHost::SetPluginWindowOpen(bool open)
{
    if (host->IsWindowOpen() != open)
        host->ExecuteCommand("togglemenu Ravento");
}

void BenchHost::SetReferenceWidgets(std::function<void()> widgets)
{
    host->RunFrames(0); // waits for the UI thread, so the next frame sees the new widgets
    backend->widgets = std::move(widgets);
}

double BenchHost::TimeFrames(int count)
{
    auto start = std::chrono::steady_clock::now();
    host->RunFrames(count);
    return SecondsSince(start);
}

std::string BenchHost::PluginWindowText()
{
    return host->CaptureFrameText();
}

bool BenchHost::Click(const std::string& label)
{
    return host->Click(label);
}

BenchHost& SharedBenchHost()
{
    static BenchHost host;
    return host;
}
