// Scripts run as devhost runs them (real-time clock, replies from another thread), in process
// and against the built Ravento module: a script means the same thing every run.
#include <chrono>
#include <deque>
#include <mutex>
#include <random>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "ScriptRun.h"
#include "orvane/host/Host.h"
#include "support/TempDir.h"

using testing_support::TempDir;

namespace {

// Answers each request from a thread of its own after a few milliseconds drawn from a fixed
// seed, as a network does, with the next status of its list: every run draws the same delays.
class LateAnswers : public devhost::HttpTransport {
public:
    explicit LateAnswers(std::deque<int> statuses) : statuses(std::move(statuses)) {}

    ~LateAnswers() override
    {
        for (std::thread& answer : answers)
            answer.join();
    }

    void Send(CurlRequest, Completion done) override
    {
        std::lock_guard lock(mutex);
        int status = statuses.empty() ? 0 : statuses.front();
        if (!statuses.empty())
            statuses.pop_front();
        std::chrono::microseconds delay(std::uniform_int_distribution<int>(0, 5000)(random));
        answers.emplace_back([done = std::move(done), status, delay] {
            std::this_thread::sleep_for(delay);
            done(status, {}, "no network here");
        });
    }

private:
    std::mutex mutex;
    std::deque<int> statuses;
    std::mt19937 random{20251207};
    std::vector<std::thread> answers;
};

// Standard output as devhost writes it: the plugin's log lines and the script's results in
// the order they came; complaints apart, as on standard error.
struct Streams {
    std::mutex mutex;
    std::string out;
    std::string complaints;

    std::function<void(const std::string&)> To(std::string Streams::*stream)
    {
        return [this, stream](const std::string& line) {
            std::lock_guard lock(mutex);
            this->*stream += line + "\n";
        };
    }
};

// Runs the script with a fresh host on the Ravento module, its replays folder set in the
// configuration; returns standard output, or the complaints when the script failed.
std::string RunOnRavento(const std::string& script, std::deque<int> replyStatuses)
{
    TempDir dir;
    auto demos = dir.MakeFolder("Demos");
    dir.MakeFile("Demos/R1.replay", "PELLACOR-REPLAY");
    auto config = dir.MakeFile("host.cfg", fmt::format("Ravento_DemosFolder \"{}\"\n", demos.generic_string()));

    Streams streams;
    devhost::HostOptions options;
    options.clock = devhost::ClockMode::RealTime;
    options.configFile = config;
    options.transport = std::make_unique<LateAnswers>(std::move(replyStatuses));
    options.pluginLog = streams.To(&Streams::out);
    options.hostLog = [](const std::string&) {};
    devhost::Host host(std::move(options));
    if (auto error = host.LoadPluginModule(RAVENTO_MODULE_PATH))
        return "load failed: " + *error;
    std::istringstream lines(script);
    RunOutcome outcome =
        RunScript(host, lines, "script", {streams.To(&Streams::out), streams.To(&Streams::complaints)});
    host.UnloadPlugin();
    if (outcome == RunOutcome::Failed)
        return "failed: " + streams.complaints;
    // The window's repairs list counts real seconds since each upload; only their form is the script's.
    return std::regex_replace(streams.out, std::regex("\\d+ s ago"), "# s ago");
}

} // namespace

TEST(ScriptRunTest, TheSameScriptGivesTheSameOutputEveryRun)
{
    // A 429 opens the window with its notice; the next reply (500) clears it. The window is
    // then opened, typed into, cleared and typed into at once, without frames in between.
    const std::string script = "wait 1.05\n"
                               "play R1 2025-06-14\n"
                               "settle\n"
                               "show\n"
                               "console togglemenu Ravento\n"
                               "play R1 2025-06-14\n"
                               "settle\n"
                               "console togglemenu Ravento\n"
                               "type first\n"
                               "show\n"
                               "clear\n"
                               "type second\n"
                               "show\n";
    const std::string first = RunOnRavento(script, {429, 500});
    EXPECT_NE(first.find("= Rate Limit Hit (10 every 30 minutes)"), std::string::npos) << first;
    EXPECT_NE(first.find("{ first }"), std::string::npos) << first;
    EXPECT_NE(first.find("{ second }"), std::string::npos) << first;
    EXPECT_EQ(first.find("{ firstsecond }"), std::string::npos) << "clear left text behind\n" << first;

    for (int run = 2; run <= 20; ++run)
        ASSERT_EQ(RunOnRavento(script, {429, 500}), first) << "run " << run;
}

// A reply that never comes: settle gives up after its timeout and fails, which stops the script
// and makes devhost exit non-zero; the lines after it do not run on a host that is not quiet.
TEST(ScriptRunTest, ASettleThatTimesOutFailsTheScript)
{
    TempDir dir;
    auto demos = dir.MakeFolder("Demos");
    dir.MakeFile("Demos/R1.replay", "PELLACOR-REPLAY");
    devhost::HostOptions options; // its recording transport never answers
    options.configFile = dir.MakeFile("host.cfg", fmt::format("Ravento_DemosFolder \"{}\"\n", demos.generic_string()));
    options.pluginLog = [](const std::string&) {};
    options.hostLog = [](const std::string&) {};
    devhost::Host host(std::move(options));
    ASSERT_FALSE(host.LoadPluginModule(RAVENTO_MODULE_PATH));

    Streams streams;
    CommandRunner runner(host, std::chrono::milliseconds(50),
                         {streams.To(&Streams::out), streams.To(&Streams::complaints)});
    auto run = [&runner](std::string_view line) { return runner.Run(*ParseScriptLine(line).command); };
    EXPECT_EQ(run("wait 1.05"), RunOutcome::Continue);
    EXPECT_EQ(run("play R1 2025-06-14"), RunOutcome::Continue);
    EXPECT_EQ(run("settle"), RunOutcome::Failed);
    EXPECT_NE(streams.complaints.find("settle: timed out after 50 ms with 1 request(s) unanswered"), std::string::npos)
        << streams.complaints;
    host.UnloadPlugin();
}
