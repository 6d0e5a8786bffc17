// "togglemenu" from a window's own draw: a window closed by its close button keeps issuing it
// in every frame it is drawn, so the host has to close it before the next frame, or two
// queued toggles close the window and open it again.
#include <algorithm>
#include <future>
#include <string>

#include <gtest/gtest.h>

#include "TestHost.h"

namespace {

long TogglesIssuedByPlugin(devhost::Host& host)
{
    auto commands = host.ExecutedCommands();
    return std::count_if(commands.begin(), commands.end(), [](const devhost::ExecutedCommand& command) {
        return command.fromPlugin && command.text == "togglemenu Test";
    });
}

} // namespace

TEST(HostToggleTest, AWindowClosedByItsCloseButtonIsClosedBeforeTheNextFrame)
{
    TestHost host;
    TestPlugin& plugin = host.Load([](TestPlugin&) {});
    host->ExecuteCommand("togglemenu Test");
    host->RunFrames(2);

    ASSERT_TRUE(host->Click("#CLOSE"));
    EXPECT_FALSE(host->IsWindowOpen()) << "closed as the frame that issued the command ended";
    // Frames before the game thread's next turn: a window still drawn here would issue the
    // command again, and the game thread would then run two toggles.
    host->RunFrames(3);
    host->RunGameWork();
    host->RunGameWork();

    EXPECT_FALSE(host->IsWindowOpen());
    EXPECT_EQ(TogglesIssuedByPlugin(*host), 1);
    EXPECT_EQ(plugin.openedCalls, 1);
    EXPECT_EQ(plugin.closedCalls, 1);
    EXPECT_TRUE(host.HostSaid("togglemenu: Test closed"));
}

TEST(HostToggleTest, TheSameHoldsWithTheRealTimeClockWhileTheGameThreadIsBusy)
{
    devhost::HostOptions options;
    options.clock = devhost::ClockMode::RealTime;
    TestHost host(std::move(options));
    TestPlugin& plugin = host.Load([](TestPlugin&) {});
    host->ExecuteCommand("togglemenu Test");
    host->RunFrames(2);

    // The game thread is busy while the window is closed and drawn a few more times.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    plugin.gameWrapper->Execute([released](GameWrapper*) { released.wait(); });
    const bool clicked = host->Click("#CLOSE");
    host->RunFrames(3);
    release.set_value();
    host->RunGameWork();

    EXPECT_TRUE(clicked);
    EXPECT_FALSE(host->IsWindowOpen());
    EXPECT_EQ(TogglesIssuedByPlugin(*host), 1);
}

TEST(HostToggleTest, CommandsFromOtherThreadsStillWaitForTheGameThread)
{
    TestHost host;
    TestPlugin& plugin = host.Load([](TestPlugin&) {});
    plugin.cvarManager->executeCommand("togglemenu Test", false);
    EXPECT_FALSE(host->IsWindowOpen()) << "queued, not run on the caller's thread";

    host->RunGameWork();
    EXPECT_TRUE(host->IsWindowOpen());
}
