// A windowed UI backend as the host sees it (devhost --gui brings one): its own windows stay out
// of captures and of the host's clicking and typing, the host's pointer wins over the user's
// idle mouse, screenshots reach it with the plugin window's region, and it gets frames unasked.
#include <atomic>
#include <cfloat>
#include <chrono>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>
#include <imgui.h>

#include "TestHost.h"
#include "orvane/host/AdoptUiContext.h"
#include "support/WaitUntil.h"

namespace {

using devhost::UiRegion;

// What the backend saw, kept by the test (the host owns the backend).
struct BackendRecord {
    std::atomic<int> presentedFrames{0};
    std::atomic<bool> paneButtonPressed{false};
    std::filesystem::path savedFile;
    std::optional<UiRegion> savedRegion;
};

class FakeWindowedBackend : public devhost::UiBackend {
public:
    FakeWindowedBackend(BackendRecord& record, std::chrono::milliseconds interval) : record(record), interval(interval)
    {
    }

    void Init(ImGuiContext* context) override { devhost::AdoptUiContext(context); }

    // Like a desktop backend whose user leaves the mouse outside the window.
    void PrepareFrame(ImGuiIO& io) override
    {
        io.DisplaySize = ImVec2(1280.0f, 720.0f);
        io.DeltaTime = 1.0f / 60.0f;
        io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
        io.MouseDown[0] = false;
    }

    // A pane with a button of the same label as the plugin's.
    void DrawHostWindows() override
    {
        ImGui::SetNextWindowPos(ImVec2(0.0f, 560.0f));
        ImGui::SetNextWindowSize(ImVec2(1280.0f, 160.0f));
        ImGui::Begin("Pane", nullptr, ImGuiWindowFlags_NoBringToFrontOnFocus);
        ImGui::Text("pane text");
        if (ImGui::Button("Check"))
            record.paneButtonPressed = true;
        ImGui::End();
    }

    void PresentFrame(ImDrawData*) override { ++record.presentedFrames; }

    std::optional<std::string> SaveFrame(ImDrawData*, const std::filesystem::path& file,
                                         const std::optional<UiRegion>& region) override
    {
        record.savedFile = file;
        record.savedRegion = region;
        return std::nullopt;
    }

    std::chrono::milliseconds FrameInterval() const override { return interval; }

private:
    BackendRecord& record;
    std::chrono::milliseconds interval;
};

devhost::HostOptions WithBackend(BackendRecord& record, std::chrono::milliseconds interval = {})
{
    devhost::HostOptions options;
    options.uiBackend = [&record, interval] { return std::make_unique<FakeWindowedBackend>(record, interval); };
    return options;
}

} // namespace

TEST(HostUiBackendTest, TheBackendsWindowsStayOutOfCapturesClicksAndTyping)
{
    BackendRecord record;
    TestHost host(WithBackend(record));
    TestPlugin& plugin = host.LoadWithOpenWindow();

    std::string text = host->CaptureFrameText();
    EXPECT_NE(text.find("Test Window"), std::string::npos) << text;
    EXPECT_EQ(text.find("pane text"), std::string::npos) << text;

    ASSERT_TRUE(host->TypeText("typed over an idle mouse"));
    EXPECT_EQ(plugin.entry, "typed over an idle mouse");
    ASSERT_TRUE(host->Click("Check"));
    EXPECT_EQ(host->PluginLogLines(), (std::vector<std::string>{"checked typed over an idle mouse"}));
    EXPECT_FALSE(record.paneButtonPressed);
}

TEST(HostUiBackendTest, ScreenshotsReachTheBackendWithThePluginWindowsRegion)
{
    BackendRecord record;
    TestHost host(WithBackend(record));
    host.LoadWithOpenWindow();

    EXPECT_EQ(host->SaveScreenshot("whole.png"), std::nullopt);
    EXPECT_EQ(record.savedFile, "whole.png");
    EXPECT_FALSE(record.savedRegion) << "the whole display";

    EXPECT_EQ(host->SaveScreenshot("window.png", true), std::nullopt);
    ASSERT_TRUE(record.savedRegion);
    // Dear ImGui places a new window at (60, 60); the region holds it and little more.
    EXPECT_LT(record.savedRegion->x, 60.0f);
    EXPECT_LT(record.savedRegion->y, 60.0f);
    EXPECT_GT(record.savedRegion->width, 50.0f);
    EXPECT_LT(record.savedRegion->y + record.savedRegion->height, 560.0f) << "the pane is not part of it";

    host->ExecuteCommand("togglemenu Test");
    EXPECT_EQ(host->SaveScreenshot("none.png", true), "no plugin window is shown");
}

TEST(HostUiBackendTest, TheHeadlessBackendRefusesScreenshots)
{
    TestHost host;
    auto error = host->SaveScreenshot("frame.png");
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("screenshots need a window"), std::string::npos) << *error;
}

TEST(HostUiBackendTest, AWindowedBackendGetsFramesWithoutBeingAsked)
{
    BackendRecord record;
    TestHost host(WithBackend(record, std::chrono::milliseconds(2)));
    host.LoadWithOpenWindow();
    const int before = record.presentedFrames;
    testing_support::WaitUntil([&] { return record.presentedFrames >= before + 3; });
    EXPECT_GE(record.presentedFrames, before + 3);
}

TEST(HostUiBackendTest, ABackendThatCannotStartMakesTheHostThrow)
{
    devhost::HostOptions options;
    options.uiBackend = [] {
        struct FailingBackend : FakeWindowedBackend {
            using FakeWindowedBackend::FakeWindowedBackend;
            void Init(ImGuiContext*) override { throw std::runtime_error("no display"); }
        };
        static BackendRecord unused;
        return std::make_unique<FailingBackend>(unused, std::chrono::milliseconds{});
    };
    EXPECT_THROW(devhost::Host host(std::move(options)), std::runtime_error);
    EXPECT_EQ(devhost::Host::Current(), nullptr);

    TestHost working; // nothing of the failed host is left in the way
    EXPECT_NE(working->UiContext(), nullptr);
}
