// The stand-in host core: console, game thread, UI thread and HTTP facility, driving one
// loaded plugin the way the real host does. Used by the development host and by tests.
//
// Threads: game work (timers, Execute, hooks, console commands) runs on the game thread,
// window calls on the UI thread, reply callbacks on the HTTP thread. Every public member
// below may be called from any other thread; it hands its work to the right thread and
// waits for it. UnloadPlugin waits for the plugin's running callables, so it is never called
// from inside one of them.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvane/PluginRegistration.h"
#include "orvane/SdkApi.h"
#include "orvane/host/HttpTransport.h"
#include "orvane/host/UiBackend.h"

struct ImGuiContext;

namespace devhost {

enum class ClockMode {
    Virtual, // time moves only through Advance: deterministic, for tests
    RealTime, // time follows the steady clock; Advance also sleeps
};

struct HostOptions {
    // Empty: no configuration is read or written. One that is there but no regular file, larger
    // than 1 MiB or with a line over 64 KiB makes the Host's constructor throw std::runtime_error.
    std::filesystem::path configFile;
    ClockMode clock = ClockMode::Virtual;
    std::unique_ptr<HttpTransport> transport; // null: a RecordingTransport that never answers
    float displayWidth = 1280.0f;
    float displayHeight = 720.0f;
    // Where plugin log lines go (exactly as logged) and where the host's own lines go.
    // Defaults: standard output and standard error.
    std::function<void(const std::string&)> pluginLog;
    std::function<void(const std::string&)> hostLog;
    // Where UI frames are shown; null: headless (displayWidth x displayHeight, nothing drawn).
    // A backend that cannot start makes the Host's constructor throw std::runtime_error.
    UiBackendFactory uiBackend;
};

// A console command as the plugin issued it (or the host's own console ran it).
struct ExecutedCommand {
    std::string text;
    bool echo = false;
    bool fromPlugin = false;
};

struct ConsoleVariableInfo {
    std::string name;
    std::string value;
    std::string defaultValue;
    std::string description;
    bool searchable = false;
    bool hasMin = false;
    float min = 0.0f;
    bool hasMax = false;
    float max = 0.0f;
    bool saveToConfig = false;
};

struct ReplayInfo {
    std::string id;
    std::string date;
};

struct PendingTimeout {
    double delaySeconds = 0.0; // as the plugin asked for it
    double dueInSeconds = 0.0; // from the current clock
};

class PluginSession;

// The event the game runs when the player starts a saved replay.
inline constexpr const char* kPlayReplayEvent = "Function TAGame.ReplayManager_TA.PlayReplay";

class ORVANE_SDK_API Host {
public:
    // One Host may be live at a time (asserted): the SDK's wrappers reach it as Host::Current().
    explicit Host(HostOptions options);
    ~Host(); // unloads a plugin that is still loaded
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The one live host of the process (HttpWrapper::SendCurlRequest needs it), or null.
    static Host* Current();

    // --- Plugin lifetime --------------------------------------------------------------
    // Loads a module by path, checks its registration record and calls getPlugin, fills the
    // handles and runs onLoad on the game thread. Returns an error text on failure.
    std::optional<std::string> LoadPluginModule(const std::filesystem::path& modulePath);
    // The same for a record that is already in this process (tests link the plugin in).
    std::optional<std::string> LoadPlugin(const Orvane::Plugin::PluginRegistration& record);
    // onUnload, drop every pending callable of the plugin, release the host's reference,
    // deleteMe, and unload the module. Never from one of the plugin's own callables (asserted).
    void UnloadPlugin();
    bool HasPlugin() const;
    const Orvane::Plugin::PluginRegistration* Registration() const; // null when none loaded
    // The host's own shared reference to the plugin object (null when none loaded).
    std::shared_ptr<Orvane::Plugin::OrvanePlugin> Plugin() const;

    // --- Console -----------------------------------------------------------------------
    // Runs a command on the game thread as the host console would ("togglemenu NAME",
    // "writeconfig", anything else is reported as unknown). Returns false for unknown ones.
    bool ExecuteCommand(const std::string& command);
    std::vector<std::string> PluginLogLines() const;
    std::vector<ExecutedCommand> ExecutedCommands() const;
    std::optional<ConsoleVariableInfo> Variable(const std::string& name) const;
    bool WriteConfig(); // saves every variable flagged saveToConfig to the configuration file

    // --- Game thread ----------------------------------------------------------------------
    // Moves the clock forward and runs every timer that falls due and all queued game work,
    // in order of due time, and then the work that work queued; returns when none is left.
    void Advance(double seconds);
    // Runs the game work queued so far (Execute callables, deferred commands); what it queues
    // in turn waits for the next call, as it waits for the game thread's next turn.
    void RunGameWork();
    // Runs queued game work, and the work it queues, until none is left.
    void FinishGameWork();
    std::vector<PendingTimeout> PendingTimeouts() const;
    std::vector<std::string> HookedEvents() const; // one entry per hook, in order of hooking

    // Makes a host-owned replay object and returns its address; it lives as long as the host.
    std::uintptr_t CreateReplay(const std::string& id, const std::string& date);
    // Fires a game event: every hook on that name runs on the game thread with an
    // ActorWrapper caller and a parameter block whose first 8 bytes hold replayAddress.
    void FireEvent(const std::string& eventName, std::uintptr_t replayAddress);
    // Shorthand: a new replay with this id and date, played through
    // "Function TAGame.ReplayManager_TA.PlayReplay".
    void PlayReplay(const std::string& id, const std::string& date);
    // The replay at that address, or null when this host made none there. It stays as it is
    // while the host lives.
    const ReplayInfo* FindReplay(std::uintptr_t address) const;

    // --- HTTP --------------------------------------------------------------------------------
    std::size_t OutstandingRequests() const;
    // Of those, the ones answered whose reply callable has not finished yet.
    std::size_t RequestsBeingHandled() const;
    // Requests handed to the transport since the host started: a caller compares it before and
    // after an action to learn whether that action sent anything.
    std::uint64_t RequestsSent() const;
    // Waits until the host is quiet: every request answered and its callable run, and the game
    // work and console commands queued meanwhile run too (they may send requests in turn).
    // False when the timeout passed first.
    bool Settle(std::chrono::milliseconds timeout);
    HttpTransport& Transport();

    // --- UI thread -----------------------------------------------------------------------------
    ImGuiContext* UiContext() const;
    bool IsWindowOpen() const; // the host's view: opened by togglemenu
    void RunFrames(int count); // NewFrame, DrawWindow of an open window, Render
    // The next four first draw a window that was opened but not yet shown, as a host that draws
    // every frame would have.
    // The text Dear ImGui's logging captures from one frame: titles and texts as drawn, an
    // entry as "{ content }" (an empty one showing its hint as "{ (hint) HINT }"), a button as
    // "[ label ]". Empty when no window is open.
    std::string CaptureFrameText();
    // Focuses the plugin window's text entry and types text into it over a few frames.
    bool TypeText(const std::string& text);
    // Empties the plugin window's text entry as a user would: select all (Ctrl+A), Delete.
    bool ClearText();
    // Presses the button with that label in the plugin's window. False if there is none.
    bool Click(const std::string& label);
    // Queues raw input, applied one event per frame so a press and its release make a click
    // (for tests that need keys such as Enter). Keys are ImGuiKey values.
    void QueueKey(int imguiKey, bool down);
    void QueueMouse(float x, float y, bool down);
    // Draws a frame and saves it as a PNG file, the whole display or only the plugin's window.
    // Returns an error text when it cannot (the headless backend draws no pixels).
    std::optional<std::string> SaveScreenshot(const std::filesystem::path& file, bool pluginWindowOnly = false);

private:
    friend PluginSession* ActivePluginSession();

    struct State;
    std::unique_ptr<State> state;
};

} // namespace devhost
