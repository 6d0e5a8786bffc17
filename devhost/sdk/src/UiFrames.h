// The host's UI thread: its Dear ImGui context, the plugin's window, and the frame loop
// (NewFrame, DrawWindow of the open window, Render). Every public member runs its work on the
// UI thread and waits for it.
#pragma once

#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TaskThread.h"
#include "UiBackend.h"

struct ImGuiContext;
struct ImGuiWindow;

namespace Orvane::Plugin {
class PluginWindow;
}

namespace devhost {

class ConsoleOutput;
class PluginSession;

class UiFrames {
public:
    UiFrames(ConsoleOutput& output, std::unique_ptr<UiBackend> backend);
    ~UiFrames();

    ImGuiContext* Context() const { return context; }
    bool IsUiThread() const { return thread.IsCurrent(); }

    // Hands the window the host's context. The window starts closed.
    void AttachWindow(PluginSession& session, Orvane::Plugin::PluginWindow& window);
    // Forgets the window; its session is already closed, so nothing is called on it.
    void DetachWindow();
    bool IsOpen() const { return open.load(); }
    // Opens or closes the window whose menu name this is; null when there is no such window.
    std::optional<bool> ToggleMenu(const std::string& menuName);

    void RunFrames(int count);
    // These three first draw a window that was opened but not yet shown, as a host drawing
    // every frame would have by then.
    std::string CaptureFrameText();
    bool TypeText(const std::string& text);
    bool Click(const std::string& label);
    // Focuses the window's text entry, selects all of it (Ctrl+A) and deletes it.
    bool ClearText();
    void QueueKey(int imguiKey, bool down);
    void QueueMouse(float x, float y, bool down);
    // Draws a frame and has the backend save it; only the plugin's window when asked.
    std::optional<std::string> SaveScreenshot(const std::filesystem::path& file, bool pluginWindowOnly);

private:
    struct InputEvent {
        bool isKey;
        int key;
        float x;
        float y;
        bool down;
    };

    // The mouse as the host's own input (queued events, clicking, typing) sets it. While set it
    // replaces whatever the backend read from the user's mouse.
    struct ScriptedPointer {
        float x;
        float y;
        bool down;
    };

    // Everything below runs on the UI thread.
    void CreateContext();
    void ScheduleFrame();
    void RunFrame();
    void BuildFrame(); // RunFrame up to Render, without presenting
    void ApplyQueuedInput();
    void DrawUntilShown();
    void DrawHostWindows();
    void DrawOpenWindow();
    std::vector<ImGuiWindow*> PluginWindows() const;
    std::optional<UiRegion> PluginWindowsRegion() const; // none when no plugin window is shown
    bool PluginWindowsDrewWith(unsigned int colour) const; // in the last frame built
    static void MarkHint(std::string& text);
    void PressMouse();
    bool HoverItem(const std::function<bool()>& found);
    bool FocusTextEntry();
    // Runs act on the UI thread with the window's text entry focused; false when there is none.
    bool WithFocusedEntry(const std::function<void()>& act);
    void PressKey(int imguiKey);
    static void SetClipboardText(void* user, const char* text);
    static const char* GetClipboardText(void* user);

    ConsoleOutput& output;
    std::unique_ptr<UiBackend> backend;
    ImGuiContext* context = nullptr;
    PluginSession* session = nullptr;
    Orvane::Plugin::PluginWindow* window = nullptr;
    std::atomic<bool> open{false};
    int framesSinceOpened = 0; // frames the open window has been drawn in
    std::deque<InputEvent> queuedInput;
    std::optional<ScriptedPointer> scriptedPointer;
    bool scriptedCtrl = false; // the host holds Ctrl down, over the user's keyboard
    std::vector<unsigned int> hostWindows; // IDs of the backend's windows in the last frame
    bool capturing = false;
    std::string captured;
    std::string clipboard;
    // The clipboard hooks a windowed backend installed; the host's own replaced them.
    struct ClipboardHooks {
        void* user = nullptr;
        void (*set)(void* user, const char* text) = nullptr;
        const char* (*get)(void* user) = nullptr;
    } backendClipboard;

    TaskThread thread; // last: joined before the state above goes
};

} // namespace devhost
