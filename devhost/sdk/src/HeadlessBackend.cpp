// A backend that shows nothing: fixed display size, a steady 60 frames per second, and a font
// atlas built in memory so Dear ImGui can lay text out.
#include <imgui.h>

#include "UiBackend.h"
#include "orvane/host/AdoptUiContext.h"

namespace devhost {
namespace {

class HeadlessBackend : public UiBackend {
public:
    HeadlessBackend(float width, float height) : width(width), height(height) {}

    void Init(ImGuiContext* context) override { AdoptUiContext(context); }

    void PrepareFrame(ImGuiIO& io) override
    {
        io.DisplaySize = ImVec2(width, height);
        io.DeltaTime = 1.0f / 60.0f;
    }

    void PresentFrame(ImDrawData*) override {}

    std::optional<std::string> SaveFrame(ImDrawData*, const std::filesystem::path&,
                                         const std::optional<UiRegion>&) override
    {
        return std::string("the headless UI draws no pixels; screenshots need a window (devhost --gui)");
    }

private:
    float width;
    float height;
};

} // namespace

std::unique_ptr<UiBackend> MakeHeadlessBackend(float displayWidth, float displayHeight)
{
    return std::make_unique<HeadlessBackend>(displayWidth, displayHeight);
}

} // namespace devhost
