// The host's UI thread: its Dear ImGui context, the plugin's window and the frame loop.
//
// Index of this file:
// [SECTION] Context and backend
// [SECTION] Clipboard
// [SECTION] The plugin's window
// [SECTION] Frames on request
// [SECTION] The frame loop
//
// Driving the window as a user would (clicking, typing) is in UiAutomation.cpp.
#include "UiFrames.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include <fmt/format.h>
#include <imgui.h>
#include <imgui_internal.h>

#include "ConsoleOutput.h"
#include "PluginSession.h"
#include "orvane/PluginWindow.h"

namespace devhost {
namespace {

// Dear ImGui's recovery callback: a printf-style message per thing it had to close.
void ReportUnbalancedWindow(void* user, const char* format, ...)
{
    char message[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    static_cast<ConsoleOutput*>(user)->HostLine(fmt::format("plugin window left Dear ImGui unbalanced: {}", message));
}

// A new window sizes itself to its contents in its first frame, hidden, and shows in its second.
constexpr int kFramesToShowNewWindow = 2;

} // namespace

//-------------------------------------------------------------------------------------------------
// [SECTION] Context and backend
//-------------------------------------------------------------------------------------------------

UiFrames::UiFrames(ConsoleOutput& output, std::unique_ptr<UiBackend> backend)
    : output(output), backend(std::move(backend))
{
    thread.Call([this] { CreateContext(); });
}

UiFrames::~UiFrames()
{
    // The backend goes first and here: a windowed one holds GL state of this thread and works
    // on the context.
    thread.Call([this] {
        backend.reset();
        ImGui::DestroyContext(context);
        context = nullptr;
    });
}

void UiFrames::CreateContext()
{
    context = ImGui::CreateContext();
    ImGui::SetCurrentContext(context);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr; // nothing the plugin's windows do survives the host
    io.LogFilename = nullptr;
    io.ClipboardUserData = this;
    io.SetClipboardTextFn = &UiFrames::SetClipboardText;
    io.GetClipboardTextFn = &UiFrames::GetClipboardText;
    // Keys are named by their ImGuiKey value, so QueueKey takes ImGuiKey_Enter as it is.
    for (int key = 0; key < ImGuiKey_COUNT; ++key)
        io.KeyMap[key] = key;
    try {
        backend->Init(context);
    } catch (...) {
        ImGui::DestroyContext(context);
        context = nullptr;
        throw;
    }
    // A windowed backend brings the desktop's clipboard: the user's copies go there, while the
    // captures still read the frame's log through the host's own hooks.
    if (io.SetClipboardTextFn != &UiFrames::SetClipboardText) {
        backendClipboard = {io.ClipboardUserData, io.SetClipboardTextFn, io.GetClipboardTextFn};
        io.ClipboardUserData = this;
        io.SetClipboardTextFn = &UiFrames::SetClipboardText;
        io.GetClipboardTextFn = &UiFrames::GetClipboardText;
    }
    ScheduleFrame();
}

// A windowed backend's frames keep coming by themselves, between and during script commands,
// so its window stays live; commands that draw frames of their own simply come in between.
void UiFrames::ScheduleFrame()
{
    const auto interval = backend->FrameInterval();
    if (interval <= interval.zero())
        return;
    thread.PostAt(TaskThread::Clock::now() + interval, [this] {
        if (!context)
            return; // the host is going away
        RunFrame();
        ScheduleFrame();
    });
}

//-------------------------------------------------------------------------------------------------
// [SECTION] Clipboard
//-------------------------------------------------------------------------------------------------

namespace {

// Dear ImGui's log ends lines with "\r\n" on Windows; the capture keeps "\n" on every platform.
void AppendWithPlainNewlines(std::string& captured, const char* text)
{
    for (; *text; ++text) {
        if (text[0] == '\r' && text[1] == '\n')
            continue;
        captured += *text;
    }
}

} // namespace

void UiFrames::SetClipboardText(void* user, const char* text)
{
    // While capturing, the text comes from the frame's log, not from a copy by the user.
    auto* self = static_cast<UiFrames*>(user);
    if (self->capturing)
        AppendWithPlainNewlines(self->captured, text);
    else if (self->backendClipboard.set)
        self->backendClipboard.set(self->backendClipboard.user, text);
    else
        self->clipboard = text;
}

const char* UiFrames::GetClipboardText(void* user)
{
    auto* self = static_cast<UiFrames*>(user);
    if (self->backendClipboard.get)
        return self->backendClipboard.get(self->backendClipboard.user);
    return self->clipboard.c_str();
}

//-------------------------------------------------------------------------------------------------
// [SECTION] The plugin's window
//-------------------------------------------------------------------------------------------------

void UiFrames::AttachWindow(PluginSession& newSession, Orvane::Plugin::PluginWindow& newWindow)
{
    thread.Call([&] {
        session = &newSession;
        window = &newWindow;
        open = false;
        auto address = reinterpret_cast<std::uintptr_t>(context);
        session->Run([&] { window->AttachUiContext(address); }, "AttachUiContext");
    });
}

void UiFrames::DetachWindow()
{
    thread.Call([this] {
        session = nullptr;
        window = nullptr;
        open = false;
    });
}

std::optional<bool> UiFrames::ToggleMenu(const std::string& menuName)
{
    std::optional<bool> result;
    thread.Call([&] {
        if (!window)
            return;
        std::string windowMenu;
        session->Run([&] { windowMenu = window->MenuName(); }, "MenuName");
        if (windowMenu != menuName)
            return;
        open = !open;
        framesSinceOpened = 0;
        if (open)
            session->Run([this] { window->OnWindowOpened(); }, "OnWindowOpened");
        else
            session->Run([this] { window->OnWindowClosed(); }, "OnWindowClosed");
        result = open.load();
    });
    return result;
}

//-------------------------------------------------------------------------------------------------
// [SECTION] Frames on request
//-------------------------------------------------------------------------------------------------

void UiFrames::RunFrames(int count)
{
    thread.Call([&] {
        for (int i = 0; i < count; ++i)
            RunFrame();
    });
}

// Dear ImGui logs an empty entry's hint exactly like typed text. Only the hint is drawn in the
// disabled-text colour, so for the captured frame that colour is moved by one step (invisible
// on screen), and a plugin window that drew with it was showing a hint.
std::string UiFrames::CaptureFrameText()
{
    std::string text;
    thread.Call([&] {
        if (!open || !window)
            return;
        DrawUntilShown();
        ImGui::SetCurrentContext(context);
        ImVec4& disabled = ImGui::GetStyle().Colors[ImGuiCol_TextDisabled];
        const ImVec4 usual = disabled;
        disabled.x = usual.x > 0.5f ? usual.x - 1.0f / 255.0f : usual.x + 1.0f / 255.0f;
        const ImU32 marker = ImGui::GetColorU32(ImGuiCol_TextDisabled);
        capturing = true;
        captured.clear();
        RunFrame();
        capturing = false;
        disabled = usual;
        text = std::move(captured);
        if (PluginWindowsDrewWith(marker))
            MarkHint(text);
    });
    return text;
}

bool UiFrames::PluginWindowsDrewWith(ImU32 colour) const
{
    for (ImGuiWindow* shown : PluginWindows()) {
        for (const ImDrawVert& vertex : shown->DrawList->VtxBuffer) {
            if (vertex.col == colour)
                return true;
        }
    }
    return false;
}

// The entry's line reads "{ HINT }"; it becomes "{ (hint) HINT }".
void UiFrames::MarkHint(std::string& text)
{
    std::size_t line = 0;
    while (text.compare(line, 2, "{ ") != 0) {
        line = text.find('\n', line);
        if (line == std::string::npos)
            return;
        ++line;
    }
    text.insert(line + 2, "(hint) ");
}

void UiFrames::QueueKey(int imguiKey, bool down)
{
    thread.Call([&] { queuedInput.push_back({true, imguiKey, 0.0f, 0.0f, down}); });
}

void UiFrames::QueueMouse(float x, float y, bool down)
{
    thread.Call([&] { queuedInput.push_back({false, 0, x, y, down}); });
}

std::optional<std::string> UiFrames::SaveScreenshot(const std::filesystem::path& file, bool pluginWindowOnly)
{
    std::optional<std::string> error;
    thread.Call([&] {
        BuildFrame();
        std::optional<UiRegion> region;
        if (pluginWindowOnly)
            region = PluginWindowsRegion();
        if (pluginWindowOnly && !region)
            error = "no plugin window is shown";
        else
            error = backend->SaveFrame(ImGui::GetDrawData(), file, region);
        backend->PresentFrame(ImGui::GetDrawData());
    });
    return error;
}

//-------------------------------------------------------------------------------------------------
// [SECTION] The frame loop
//-------------------------------------------------------------------------------------------------

void UiFrames::DrawUntilShown()
{
    while (open && window && framesSinceOpened < kFramesToShowNewWindow)
        RunFrame();
}

void UiFrames::RunFrame()
{
    BuildFrame();
    backend->PresentFrame(ImGui::GetDrawData());
}

void UiFrames::BuildFrame()
{
    ImGui::SetCurrentContext(context);
    ImGuiIO& io = ImGui::GetIO();
    backend->PrepareFrame(io);
    ApplyQueuedInput();
    if (scriptedPointer) {
        io.MousePos = ImVec2(scriptedPointer->x, scriptedPointer->y);
        io.MouseDown[0] = scriptedPointer->down;
    }
    if (scriptedCtrl)
        io.KeyCtrl = true;
    ImGui::NewFrame();
    DrawHostWindows();
    if (capturing)
        ImGui::LogToClipboard();
    DrawOpenWindow();
    if (capturing)
        ImGui::LogFinish(); // the window's End has flushed it already, unless there was none
    ImGui::Render();
}

// One event a frame, so a press and its release are seen as a click.
void UiFrames::ApplyQueuedInput()
{
    if (queuedInput.empty())
        return;
    InputEvent event = queuedInput.front();
    queuedInput.pop_front();
    ImGuiIO& io = ImGui::GetIO();
    if (event.isKey) {
        if (event.key >= 0 && event.key < ImGuiKey_COUNT)
            io.KeysDown[io.KeyMap[event.key]] = event.down;
        return;
    }
    scriptedPointer = ScriptedPointer{event.x, event.y, event.down};
}

void UiFrames::DrawHostWindows()
{
    backend->DrawHostWindows();
    // Whatever the backend began in this frame is the host's own.
    hostWindows.clear();
    for (ImGuiWindow* drawn : GImGui->Windows) {
        if (drawn->LastFrameActive == GImGui->FrameCount && !drawn->IsFallbackWindow)
            hostWindows.push_back(drawn->ID);
    }
}

void UiFrames::DrawOpenWindow()
{
    if (!open || !window)
        return;
    ++framesSinceOpened;
    session->Run([this] { window->DrawWindow(); }, "DrawWindow");
    // A window that threw or forgot its End would make Dear ImGui abort at Render: close what it
    // left open and say so.
    ImGui::ErrorCheckEndFrameRecover(&ReportUnbalancedWindow, &output);
}

} // namespace devhost
