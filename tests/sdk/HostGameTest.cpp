// The game thread: virtual-time timers, queued work, game-event hooks and host-owned replays.
#include <chrono>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

#include "TestHost.h"
#include "orvane/ReplayWrapper.h"
#include "support/WaitUntil.h"

using devhost::kPlayReplayEvent;

namespace {

std::vector<std::string> Lines(TestHost& host)
{
    return host->PluginLogLines();
}

} // namespace

TEST(HostGameTest, TimersFireOnceInDueOrderAsVirtualTimeAdvances)
{
    TestHost host;
    std::thread::id gameThread;
    host.Load([&](TestPlugin& self) {
        auto log = [&self](std::string text) { return [&self, text](GameWrapper*) { self.cvarManager->log(text); }; };
        self.gameWrapper->SetTimeout(log("b at 2.0"), 2.0f);
        self.gameWrapper->SetTimeout(log("a at 1.0"), 1.0f);
        self.gameWrapper->SetTimeout(log("c at 2.0, set second"), 2.0f);
        self.gameWrapper->SetTimeout(
            [&self, &gameThread](GameWrapper* game) {
                gameThread = std::this_thread::get_id();
                EXPECT_EQ(game, self.gameWrapper.get());
                // Set from inside a timer at t=0.5: falls due at 1.5, within the same Advance.
                game->SetTimeout([&self](GameWrapper*) { self.cvarManager->log("nested at 1.5"); }, 1.0f);
            },
            0.5f);
    });

    auto pending = host->PendingTimeouts();
    ASSERT_EQ(pending.size(), 4u);
    EXPECT_DOUBLE_EQ(pending[0].delaySeconds, 0.5);

    host->Advance(0.999);
    EXPECT_TRUE(Lines(host).empty());
    host->Advance(0.001);
    EXPECT_EQ(Lines(host), (std::vector<std::string>{"a at 1.0"}));
    host->Advance(5.0);
    EXPECT_EQ(Lines(host), (std::vector<std::string>{"a at 1.0", "nested at 1.5", "b at 2.0", "c at 2.0, set second"}));
    host->Advance(100.0);
    EXPECT_EQ(Lines(host).size(), 4u) << "each timer runs once";
    EXPECT_TRUE(host->PendingTimeouts().empty());
    EXPECT_NE(gameThread, std::this_thread::get_id());
    EXPECT_NE(gameThread, std::thread::id());
}

TEST(HostGameTest, ExecuteRunsQueuedWorkOnTheGameThreadInOrder)
{
    TestHost host;
    TestPlugin& plugin = host.Load([](TestPlugin&) {});
    std::vector<int> order;
    std::thread::id ranOn;
    plugin.gameWrapper->Execute([&](GameWrapper*) {
        order.push_back(1);
        ranOn = std::this_thread::get_id();
    });
    plugin.gameWrapper->Execute([&](GameWrapper* game) {
        order.push_back(2);
        game->Execute([&](GameWrapper*) { order.push_back(3); }); // waits for the next round
    });
    EXPECT_TRUE(order.empty());
    host->RunGameWork();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    host->RunGameWork();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_NE(ranOn, std::this_thread::get_id());
}

TEST(HostGameTest, ThrowingCallablesAreContainedAndReported)
{
    TestHost host;
    TestPlugin& plugin = host.Load([](TestPlugin& self) {
        self.gameWrapper->SetTimeout([](GameWrapper*) { throw std::runtime_error("timer broke"); }, 1.0f);
        throw std::runtime_error("onLoad broke");
    });
    plugin.gameWrapper->Execute([](GameWrapper*) { throw 42; });
    host->Advance(2.0);
    EXPECT_TRUE(host.HostSaid("onLoad threw: onLoad broke"));
    EXPECT_TRUE(host.HostSaid("timeout threw: timer broke"));
    EXPECT_TRUE(host.HostSaid("unknown exception"));
    EXPECT_TRUE(host->HasPlugin());
}

TEST(HostGameTest, HooksRunOnTheirExactEventWithCallerAndReplayBlock)
{
    TestHost host;
    std::vector<std::string> seen;
    host.Load([&](TestPlugin& self) {
        self.gameWrapper->HookEventWithCallerPost<ActorWrapper>(
            kPlayReplayEvent, [&](ActorWrapper caller, void* params, std::string eventName) {
                EXPECT_NE(caller.GetAddress(), 0u);
                EXPECT_EQ(eventName, kPlayReplayEvent);
                std::uintptr_t address = 0;
                std::memcpy(&address, params, sizeof address);
                ReplayWrapper replay(address);
                seen.push_back(replay ? replay.GetId().ToString() + "|" + replay.GetDate().ToString() : "no replay");
            });
    });
    EXPECT_EQ(host->HookedEvents(), (std::vector<std::string>{kPlayReplayEvent}));

    host->PlayReplay("ABC123", "2024-05-01 20:15:00");
    host->PlayReplay("", "");
    host->FireEvent(kPlayReplayEvent, 0);
    host->FireEvent("Function TAGame.ReplayManager_TA.PlayReplay ", host->CreateReplay("other", "event"));
    host->FireEvent(kPlayReplayEvent, 0x1000); // an address the host never handed out
    EXPECT_EQ(seen, (std::vector<std::string>{"ABC123|2024-05-01 20:15:00", "|", "no replay", "no replay"}));
}

TEST(HostGameTest, ReplayWrapperKnowsOnlyTheHostsReplays)
{
    TestHost host;
    std::uintptr_t address = host->CreateReplay("id", "date");
    EXPECT_TRUE(ReplayWrapper(address));
    EXPECT_EQ(ReplayWrapper(address).GetDate().ToString(), "date");
    EXPECT_FALSE(ReplayWrapper(0));
    EXPECT_FALSE(ReplayWrapper(address + 1));
    EXPECT_EQ(ReplayWrapper(address + 1).GetId().ToString(), "");
}

TEST(HostGameTest, InRealTimeTimersAndQueuedWorkRunByThemselves)
{
    devhost::HostOptions options;
    options.clock = devhost::ClockMode::RealTime;
    TestHost host(std::move(options));
    host.Load([](TestPlugin& self) {
        self.gameWrapper->SetTimeout([&self](GameWrapper*) { self.cvarManager->log("timer"); }, 0.05f);
        self.gameWrapper->Execute([&self](GameWrapper*) { self.cvarManager->log("work"); });
    });
    // Nobody advances the clock or runs game work here: the game thread does it on its own.
    testing_support::WaitUntil([&] { return Lines(host).size() >= 2; });
    EXPECT_EQ(Lines(host), (std::vector<std::string>{"work", "timer"}));
}
