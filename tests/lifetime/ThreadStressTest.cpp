// The host's three threads working on the plugin at once, many rounds: the game thread plays
// replays, the UI thread draws the panel and checks typed folders, and the HTTP thread delivers
// replies. Built with ThreadSanitizer this is the race detector's workload; in every build it
// checks that each play was sent once and each reply was handled once.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "pipeline/PipelineFixture.h"
#include "support/ReliabilityLog.h"

using namespace std::chrono_literals;
using testing_support::PipelineFixture;

namespace {

constexpr int kRounds = 300;
constexpr int kPlaysPerRound = 4;

} // namespace

TEST(ThreadStressTest, GameUiAndHttpThreadsWorkOnThePluginAtOnce)
{
    PipelineFixture fixture;
    devhost::Host& host = fixture.Host();
    // The entry starts with the replays folder; each round appends "/.", so whatever part of
    // it a closing window lets through, the entry always names the same folder.
    ASSERT_TRUE(host.ExecuteCommand("togglemenu Ravento"));
    host.RunFrames(3);
    ASSERT_TRUE(host.TypeText(fixture.demos.string()));
    std::atomic<bool> playing{true};
    int plays = 0;
    int checks = 0;
    int frames = 0;
    int replies = 0;

    std::thread game([&] {
        for (int round = 0; round < kRounds; ++round) {
            for (int play = 0; play < kPlaysPerRound; ++play) {
                std::string id = fmt::format("S{}_{}", round, play);
                fixture.AddReplay(id, "replay " + id);
                fixture.Play(id);
                ++plays;
            }
            host.Advance(0.05); // runs what a check deferred to the game thread
        }
        playing = false;
    });

    std::thread ui([&] {
        for (int round = 0; round < kRounds; ++round) {
            if (!host.IsWindowOpen())
                host.ExecuteCommand("togglemenu Ravento");
            host.RunFrames(2);
            frames += 2;
            host.TypeText("/.");
            if (host.Click("Check"))
                ++checks;
        }
    });

    // 429 is left out: it would hide the panel's entry for the rest of the run.
    std::thread http([&] {
        const int statuses[] = {200, 400, 500, 0};
        while (playing || fixture.Recorder().PendingCount() > 0) {
            if (fixture.Recorder().AnswerNext(statuses[replies % 4], fmt::format("repaired {}", replies)))
                ++replies;
            else
                std::this_thread::sleep_for(1ms);
        }
    });

    game.join();
    ui.join();
    http.join();
    ASSERT_TRUE(host.Settle(60s));
    EXPECT_EQ(fixture.Recorder().Requests().size(), static_cast<std::size_t>(plays)) << "every play was sent once";
    EXPECT_EQ(replies, plays);
    EXPECT_GT(checks, 0);
    // Every reply ended its upload's row, and the window lists the last ten.
    if (!host.IsWindowOpen())
        host.ExecuteCommand("togglemenu Ravento");
    const std::string frame = host.CaptureFrameText();
    EXPECT_NE(frame.find(fmt::format("S{}_{}, ", kRounds - 1, kPlaysPerRound - 1)), std::string::npos) << frame;
    EXPECT_EQ(frame.find("sending"), std::string::npos) << frame;
    ReportReliability("tsan-stress",
                      fmt::format("rounds={} plays={} replies={} frames={}", kRounds, plays, replies, frames));
}
