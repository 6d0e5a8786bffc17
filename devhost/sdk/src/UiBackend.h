// Where the host's UI frames are shown. The frame loop (UiFrames) does not care: the headless
// backend shows nothing, a windowed one would feed input and draw the frame's draw data.
#pragma once

#include <memory>

struct ImGuiIO;
struct ImDrawData;

namespace orvane::host {

class UiBackend {
public:
    virtual ~UiBackend() = default;

    // Once, on the UI thread, right after the host created its Dear ImGui context.
    virtual void Init(ImGuiIO& io) = 0;
    // Before each NewFrame: display size, time step and the backend's own input.
    virtual void PrepareFrame(ImGuiIO& io) = 0;
    // After each Render.
    virtual void PresentFrame(ImDrawData* drawData) = 0;
};

std::unique_ptr<UiBackend> MakeHeadlessBackend(float displayWidth, float displayHeight);

} // namespace orvane::host
