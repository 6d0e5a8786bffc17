// Where the host's UI frames are shown. The frame loop (NewFrame, the plugin's window, Render)
// does not care: the headless backend shows nothing, a windowed one feeds the user's input in
// and draws each frame's draw data. Every member is called on the host's UI thread, and the
// backend is destroyed there too, before the host's Dear ImGui context.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct ImGuiContext;
struct ImGuiIO;
struct ImDrawData;

namespace devhost {

// A part of the display, in Dear ImGui's display coordinates.
struct UiRegion {
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
};

class UiBackend {
public:
    virtual ~UiBackend() = default;

    // Once, right after the host created its Dear ImGui context. A backend built with its own
    // copy of Dear ImGui makes the context current in that copy here. Throws
    // std::runtime_error when it cannot start (no display); the Host's constructor passes it on.
    virtual void Init(ImGuiContext* context) = 0;
    // Before each NewFrame: display size, time step and the backend's own input.
    virtual void PrepareFrame(ImGuiIO& io) = 0;
    // Right after NewFrame: windows of the backend's own, such as a console pane. They are
    // drawn before the plugin's window, kept out of captured frame text and out of reach of
    // the host's clicking and typing.
    virtual void DrawHostWindows() {}
    // After each Render.
    virtual void PresentFrame(ImDrawData* drawData) = 0;
    // After a Render, before PresentFrame: saves that frame (or the region of it) as a PNG
    // file. Returns an error text when it cannot.
    virtual std::optional<std::string> SaveFrame(ImDrawData* drawData, const std::filesystem::path& file,
                                                 const std::optional<UiRegion>& region) = 0;
    // A windowed backend wants frames drawn at this interval whether or not anyone asks for
    // them, so the window stays live; zero means frames only on request.
    virtual std::chrono::milliseconds FrameInterval() const { return std::chrono::milliseconds::zero(); }
};

// Called once, by the Host's constructor; whatever belongs to the UI thread waits for Init.
using UiBackendFactory = std::function<std::unique_ptr<UiBackend>()>;

} // namespace devhost
