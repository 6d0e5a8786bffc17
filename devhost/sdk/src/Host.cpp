// The Host's members that hand their work to one part of the host core. Loading and unloading
// plugins is in PluginLifetime.cpp.
#include "orvane/host/Host.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>

#include "HostState.h"

namespace devhost {
namespace {

std::atomic<Host*> currentHost{nullptr};

} // namespace

Host::State::State(HostOptions& options)
    : output(std::move(options.pluginLog), std::move(options.hostLog)),
      variables(options.configFile, output),
      ui(output,
         options.uiBackend ? options.uiBackend() : MakeHeadlessBackend(options.displayWidth, options.displayHeight)),
      console(output, variables, ui),
      http(std::move(options.transport), output),
      game(options.clock)
{
}

Host::Host(HostOptions options) : state(std::make_unique<State>(options))
{
    Host* none = nullptr;
    [[maybe_unused]] const bool onlyHost = currentHost.compare_exchange_strong(none, this);
    assert(onlyHost && "one live Host per process: the SDK's wrappers reach the host through Host::Current()");
}

Host::~Host()
{
    UnloadPlugin();
    Host* self = this;
    currentHost.compare_exchange_strong(self, nullptr);
}

Host* Host::Current()
{
    return currentHost.load();
}

PluginSession* ActivePluginSession()
{
    Host* host = Host::Current();
    if (!host)
        return nullptr;
    std::lock_guard lock(host->state->pluginMutex);
    return host->state->session;
}

// --- Console -------------------------------------------------------------------------------

bool Host::ExecuteCommand(const std::string& command)
{
    state->console.Record({command, false, false});
    bool known = false;
    state->game.Call([&] { known = state->console.Run(command); });
    return known;
}

std::vector<std::string> Host::PluginLogLines() const
{
    return state->output.PluginLines();
}

std::vector<ExecutedCommand> Host::ExecutedCommands() const
{
    return state->console.Executed();
}

std::optional<ConsoleVariableInfo> Host::Variable(const std::string& name) const
{
    return state->variables.Info(name);
}

bool Host::WriteConfig()
{
    return state->variables.WriteConfig();
}

// --- Game thread -----------------------------------------------------------------------------

void Host::Advance(double seconds)
{
    state->game.Advance(seconds);
}

void Host::RunGameWork()
{
    state->game.RunQueuedWork();
}

void Host::FinishGameWork()
{
    state->game.FinishQueuedWork();
}

std::vector<PendingTimeout> Host::PendingTimeouts() const
{
    return state->game.PendingTimeouts();
}

std::vector<std::string> Host::HookedEvents() const
{
    return state->game.HookedEvents();
}

std::uintptr_t Host::CreateReplay(const std::string& id, const std::string& date)
{
    return state->replays.Create(id, date);
}

const ReplayInfo* Host::FindReplay(std::uintptr_t address) const
{
    return state->replays.Find(address);
}

void Host::FireEvent(const std::string& eventName, std::uintptr_t replayAddress)
{
    // The game's parameter block: the replay's address in its first 8 bytes.
    std::array<std::uintptr_t, 2> params{replayAddress, 0};
    // The replay manager runs its own PlayReplay; the host's replay store stands for it.
    ActorWrapper caller(reinterpret_cast<std::uintptr_t>(&state->replays));
    state->game.Fire(eventName, caller, params.data());
}

void Host::PlayReplay(const std::string& id, const std::string& date)
{
    FireEvent(kPlayReplayEvent, CreateReplay(id, date));
}

// --- HTTP ------------------------------------------------------------------------------------

std::size_t Host::OutstandingRequests() const
{
    return state->http.Outstanding();
}

std::size_t Host::RequestsBeingHandled() const
{
    return state->http.BeingHandled();
}

std::uint64_t Host::RequestsSent() const
{
    return state->http.Sent();
}

bool Host::Settle(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (!state->http.Settle(std::max(left, std::chrono::milliseconds::zero())))
            return false;
        state->game.FinishQueuedWork();
        if (state->http.Outstanding() == 0 && !state->game.HasQueuedWork())
            return true;
    }
}

HttpTransport& Host::Transport()
{
    return state->http.Transport();
}

// --- UI thread -------------------------------------------------------------------------------

ImGuiContext* Host::UiContext() const
{
    return state->ui.Context();
}

bool Host::IsWindowOpen() const
{
    return state->ui.IsOpen();
}

void Host::RunFrames(int count)
{
    state->ui.RunFrames(count);
}

std::string Host::CaptureFrameText()
{
    return state->ui.CaptureFrameText();
}

bool Host::TypeText(const std::string& text)
{
    return state->ui.TypeText(text);
}

bool Host::ClearText()
{
    return state->ui.ClearText();
}

bool Host::Click(const std::string& label)
{
    return state->ui.Click(label);
}

void Host::QueueKey(int imguiKey, bool down)
{
    state->ui.QueueKey(imguiKey, down);
}

void Host::QueueMouse(float x, float y, bool down)
{
    state->ui.QueueMouse(x, y, down);
}

std::optional<std::string> Host::SaveScreenshot(const std::filesystem::path& file, bool pluginWindowOnly)
{
    return state->ui.SaveScreenshot(file, pluginWindowOnly);
}

} // namespace devhost
