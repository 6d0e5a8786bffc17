// The window frame through real Dear ImGui frames of the host's headless context: the close
// button, a collapsed window, and the input-capture query.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include "support/DocumentsSandbox.h"
#include "support/PluginHost.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::DocumentsSandbox;
using testing_support::PluginHost;

class PluginWindowTest : public testing::Test {
protected:
    // The module draws into the host's context, so its Dear ImGui sees the host's windows.
    static ImGuiWindow& PluginWindow()
    {
        ImGuiWindow* window = ImGui::FindWindowByName("Ravento");
        if (window == nullptr)
            throw std::logic_error("the plugin window was never drawn");
        return *window;
    }

    // Centres of the title bar's buttons, laid out as Dear ImGui 1.86 lays them out.
    static ImVec2 TitleBarButton(bool closeButton)
    {
        const ImRect bar = PluginWindow().TitleBarRect();
        const ImVec2 padding = ImGui::GetStyle().FramePadding;
        const float half = GImGui->FontSize * 0.5f;
        const float y = bar.Min.y + padding.y + half;
        return closeButton ? ImVec2(bar.Max.x - padding.x - half, y) : ImVec2(bar.Min.x + padding.x + half, y);
    }

    // Press and release; a collapse toggle takes effect one frame later.
    void ClickAt(ImVec2 point, int framesAfter = 0)
    {
        host.Host().QueueMouse(point.x, point.y, true);
        host.Host().QueueMouse(point.x, point.y, false);
        host.Host().RunFrames(2 + framesAfter);
    }

    void MoveMouseTo(ImVec2 point)
    {
        host.Host().QueueMouse(point.x, point.y, false);
        host.Host().RunFrames(2);
    }

    DocumentsSandbox sandbox;
    PluginHost host;
};

TEST_F(PluginWindowTest, TheCloseButtonAsksTheHostToCloseTheMenu)
{
    host.OpenWindow();
    ClickAt(TitleBarButton(true));

    EXPECT_THAT(host.Commands(), ElementsAre("togglemenu Ravento [true]"));
    host.Host().RunGameWork();
    EXPECT_FALSE(host.Host().IsWindowOpen());
    EXPECT_EQ(host.Plugin().MenuName(), "Ravento");
}

TEST_F(PluginWindowTest, ACollapsedWindowSendsTheCloseCommandOnlyOnceItIsShownAgain)
{
    host.OpenWindow();
    const ImVec2 collapse = TitleBarButton(false);
    const ImVec2 close = TitleBarButton(true);
    ClickAt(collapse, 1);
    ASSERT_TRUE(PluginWindow().Collapsed);

    ClickAt(close, 1);
    EXPECT_THAT(host.Commands(), IsEmpty());
    EXPECT_TRUE(host.Host().IsWindowOpen());

    ClickAt(collapse, 1);
    ASSERT_FALSE(PluginWindow().Collapsed);
    ASSERT_FALSE(host.Commands().empty());
    EXPECT_EQ(host.Commands().front(), "togglemenu Ravento [true]");
}

TEST_F(PluginWindowTest, AWindowClosedButStillDrawnRepeatsTheCommandEveryFrame)
{
    host.OpenWindow();
    host.Plugin().OnWindowClosed();
    // Frames drawn from this thread: the host runs a window's "togglemenu" at once only when it
    // comes from its UI thread, so here the commands stay queued and the window stays drawn.
    for (int frame = 0; frame < 2; ++frame) {
        ImGui::NewFrame();
        host.Plugin().DrawWindow();
        ImGui::Render();
    }

    EXPECT_THAT(host.Commands(), ElementsAre("togglemenu Ravento [true]", "togglemenu Ravento [true]"));
}

TEST_F(PluginWindowTest, BlocksGameInputFollowsTheContextsCaptureFlags)
{
    Ravento& plugin = host.Plugin();
    EXPECT_TRUE(plugin.IsOverlayActive());
    host.OpenWindow();
    EXPECT_TRUE(plugin.IsOverlayActive());

    MoveMouseTo(PluginWindow().Rect().GetCenter());
    EXPECT_TRUE(ImGui::GetIO().WantCaptureMouse);
    EXPECT_TRUE(plugin.BlocksGameInput());

    const ImVec2 farAway(ImGui::GetIO().DisplaySize.x - 2.0f, ImGui::GetIO().DisplaySize.y - 2.0f);
    MoveMouseTo(farAway);
    EXPECT_FALSE(plugin.BlocksGameInput());

    // A focused text entry wants the keyboard wherever the mouse is.
    ASSERT_TRUE(host.Host().TypeText(""));
    MoveMouseTo(farAway);
    EXPECT_FALSE(ImGui::GetIO().WantCaptureMouse);
    EXPECT_TRUE(ImGui::GetIO().WantCaptureKeyboard);
    EXPECT_TRUE(plugin.BlocksGameInput());
}

} // namespace
