// UI frames on the host's own Dear ImGui context: capture, typing and clicking on the test
// plugin's window.
#include <gtest/gtest.h>
#include <imgui.h>

#include "TestHost.h"

TEST(HostUiTest, TheWindowGetsTheHostsContextAndIsDrawnOnlyWhileOpen)
{
    TestHost host;
    TestPlugin& plugin = host.Load([](TestPlugin&) {});
    ASSERT_NE(host->UiContext(), nullptr);
    EXPECT_EQ(plugin.attachedContext, reinterpret_cast<std::uintptr_t>(host->UiContext()));

    host->RunFrames(3);
    EXPECT_EQ(plugin.uiThread, std::thread::id()) << "a closed window is not drawn";
    EXPECT_EQ(host->CaptureFrameText(), "");

    host->ExecuteCommand("togglemenu Test");
    host->RunFrames(1);
    EXPECT_NE(plugin.uiThread, std::thread::id());
    EXPECT_NE(plugin.uiThread, std::this_thread::get_id());
}

TEST(HostUiTest, CaptureShowsTitleTextEntryAndButtonAsDearImGuiLogsThem)
{
    TestHost host;
    host.LoadWithOpenWindow();
    std::string text = host->CaptureFrameText();
    EXPECT_NE(text.find("Test Window"), std::string::npos) << text;
    EXPECT_NE(text.find("Replays folder:"), std::string::npos) << text;
    EXPECT_NE(text.find("{ (hint) type a folder }"), std::string::npos) << text;
    EXPECT_NE(text.find("[ Check ]"), std::string::npos) << text;
    EXPECT_EQ(text, host->CaptureFrameText()) << "capturing changes nothing";
}

TEST(HostUiTest, TypedTextReachesTheEntryAndClickPressesTheButton)
{
    TestHost host;
    TestPlugin& plugin = host.LoadWithOpenWindow();
    ASSERT_TRUE(host->TypeText("/home/zoë/Demos"));
    ASSERT_TRUE(host->TypeText(" more"));
    EXPECT_EQ(plugin.entry, "/home/zoë/Demos more");
    EXPECT_NE(host->CaptureFrameText().find("{ /home/zoë/Demos more }"), std::string::npos);

    ASSERT_TRUE(host->Click("Check"));
    EXPECT_EQ(host->PluginLogLines(), (std::vector<std::string>{"checked /home/zoë/Demos more"}));
    EXPECT_FALSE(host->Click("No Such Button"));
    EXPECT_EQ(host->PluginLogLines().size(), 1u) << "a failed click presses nothing";
}

TEST(HostUiTest, TheCloseButtonClosesTheMenuThroughTheConsole)
{
    TestHost host;
    TestPlugin& plugin = host.LoadWithOpenWindow();
    ASSERT_TRUE(host->Click("#CLOSE")); // Dear ImGui's name for a window's close button
    EXPECT_FALSE(plugin.windowOpen);
    auto commands = host->ExecutedCommands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back().text, "togglemenu Test");
    EXPECT_TRUE(commands.back().fromPlugin);

    // A toggle issued from the window's own draw is applied before the next frame.
    EXPECT_FALSE(host->IsWindowOpen());
    EXPECT_EQ(plugin.closedCalls, 1);
    EXPECT_FALSE(host->TypeText("x")) << "no open window to type into";
}

TEST(HostUiTest, QueuedKeysReachTheFocusedEntryOneEventPerFrame)
{
    TestHost host;
    TestPlugin& plugin = host.LoadWithOpenWindow();
    ASSERT_TRUE(host->TypeText("abc"));
    host->QueueKey(ImGuiKey_Backspace, true);
    host->QueueKey(ImGuiKey_Backspace, false);
    host->RunFrames(2);
    EXPECT_EQ(plugin.entry, "ab");
}

TEST(HostUiTest, AWindowThatThrowsMidFrameDoesNotTakeTheHostDown)
{
    TestHost host;
    TestPlugin& plugin = host.LoadWithOpenWindow();
    plugin.throwInsideWindow = true;
    host->RunFrames(2);
    EXPECT_TRUE(host.HostSaid("DrawWindow threw: draw broke"));
    EXPECT_TRUE(host.HostSaid("unbalanced"));

    plugin.throwInsideWindow = false;
    EXPECT_NE(host->CaptureFrameText().find("[ Check ]"), std::string::npos);
}
