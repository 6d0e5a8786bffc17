// The host's UI thread: its Dear ImGui context, the plugin's window, and the frame loop
// (NewFrame, DrawWindow of the open window, Render). Every public member runs its work on the
// UI thread and waits for it.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "TaskThread.h"
#include "UiBackend.h"

struct ImGuiContext;

namespace Orvane::Plugin {
class PluginWindow;
}

namespace orvane::host {

class ConsoleOutput;
class PluginSession;

class UiFrames {
public:
    UiFrames(ConsoleOutput& output, std::unique_ptr<UiBackend> backend);
    ~UiFrames();

    ImGuiContext* Context() const { return context; }

    // Hands the window the host's context. The window starts closed.
    void AttachWindow(PluginSession& session, Orvane::Plugin::PluginWindow& window);
    // Forgets the window; its session is already closed, so nothing is called on it.
    void DetachWindow();
    bool IsOpen() const { return open.load(); }
    // Opens or closes the window whose menu name this is; null when there is no such window.
    std::optional<bool> ToggleMenu(const std::string& menuName);

    void RunFrames(int count);
    std::string CaptureFrameText();
    bool TypeText(const std::string& text);
    bool Click(const std::string& label);
    void QueueKey(int imguiKey, bool down);
    void QueueMouse(float x, float y, bool down);

private:
    struct InputEvent {
        bool isKey;
        int key;
        float x;
        float y;
        bool down;
    };

    // Everything below runs on the UI thread.
    void CreateContext();
    void RunFrame();
    void ApplyQueuedInput();
    void DrawOpenWindow();
    void PressMouse();
    bool HoverItem(const std::function<bool()>& found);
    bool FocusTextEntry();
    static void SetClipboardText(void* user, const char* text);
    static const char* GetClipboardText(void* user);

    ConsoleOutput& output;
    std::unique_ptr<UiBackend> backend;
    ImGuiContext* context = nullptr;
    PluginSession* session = nullptr;
    Orvane::Plugin::PluginWindow* window = nullptr;
    std::atomic<bool> open{false};
    std::deque<InputEvent> queuedInput;
    bool capturing = false;
    std::string captured;
    std::string clipboard;

    TaskThread thread;  // last: joined before the state above goes
};

} // namespace orvane::host
