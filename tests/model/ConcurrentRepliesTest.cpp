// Replies that overlap: two 200 answers for one replay on two threads, and two processes whose
// plugins share one replays folder. Each must leave the replay listed and its original kept, and
// no process may settle a temporary file another live process is writing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "ReplayReplacement.h"
#include "pipeline/PipelineFixture.h"
#include "platform/ReplayFiles.h"
#include "support/FaultyFiles.h"
#include "support/ReplayGuarantee.h"

namespace {

using plugin::kBackupFolderName;
using testing_support::FileCall;
using testing_support::FileCallSeen;
using testing_support::Names;
using testing_support::PipelineFixture;
using testing_support::ReadBytes;

const std::string kOriginal = "the original replay";
const std::string kFirstBody = "repaired by the first answer";
const std::string kSecondBody = "repaired by the second answer, longer";

// The replay guarantee, with the two bodies the answers sent, and no temporary file left.
void ExpectListedAndKept(const PipelineFixture& fixture)
{
    EXPECT_EQ(testing_support::BrokenGuarantee(
                  {{fixture.demos}, fixture.backups, "R", kOriginal, {kFirstBody, kSecondBody}}),
              "")
        << testing::PrintToString(Names(fixture.demos));
    EXPECT_THAT(testing_support::TemporaryFilesIn(fixture.demos), testing::IsEmpty());
}

// The platform's calls, except that the first time the repaired file is put in place, a second
// answer for the same replay is delivered on another thread, as a host may.
class SecondAnswerDuringPlacement {
public:
    explicit SecondAnswerDuringPlacement(PipelineFixture& fixture) : fixture(fixture)
    {
        files.after = [this](const FileCallSeen& seen) {
            if (seen.call == FileCall::Move && seen.target.filename() == "R_fixed.replay" && !second.joinable())
                AnswerAgain();
        };
    }
    ~SecondAnswerDuringPlacement()
    {
        if (second.joinable())
            second.join();
    }

private:
    void AnswerAgain()
    {
        second = std::thread([this] {
            fixture.Plugin().OnRepairReply(fixture.demos, fixture.demos / "R.replay", "R", 200, kSecondBody.data(),
                                           kSecondBody.size());
            std::lock_guard lock(mutex);
            secondDone = true;
            done.notify_all();
        });
        // Replies that do not wait for each other finish the second one now. A lock makes it wait
        // for this one, which must then go on: the bound only ends that wait.
        std::unique_lock lock(mutex);
        done.wait_for(lock, std::chrono::milliseconds(300), [this] { return secondDone; });
    }

    testing_support::FaultyFiles files;
    PipelineFixture& fixture;
    std::thread second;
    std::mutex mutex;
    std::condition_variable done;
    bool secondDone = false;
};

} // namespace

TEST(ConcurrentReplies, ASecondAnswerDuringThePlacementNeverUnlistsTheReplay)
{
    PipelineFixture fixture;
    fixture.AddReplay("R", kOriginal);
    fixture.Play("R");
    {
        SecondAnswerDuringPlacement files(fixture);
        fixture.Answer(200, kFirstBody);
    }
    ExpectListedAndKept(fixture);
    EXPECT_EQ(ReadBytes(fixture.demos / "R_fixed.replay"), kFirstBody);
    EXPECT_EQ(ReadBytes(fixture.backups / "R_copy.replay"), kOriginal);
}

TEST(ConcurrentReplies, TwoThreadsAnsweringForOneReplayLeaveItRepairedOnce)
{
    for (int round = 0; round < 200 && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        PipelineFixture fixture;
        const std::filesystem::path old = fixture.AddReplay("R", kOriginal);
        std::mutex mutex;
        std::condition_variable start;
        int waiting = 0;
        auto answer = [&](const std::string& body) {
            {
                std::unique_lock lock(mutex);
                ++waiting;
                start.notify_all();
                start.wait(lock, [&] { return waiting == 2; });
            }
            fixture.Plugin().OnRepairReply(fixture.demos, old, "R", 200, body.data(), body.size());
        };
        std::thread first(answer, kFirstBody), second(answer, kSecondBody);
        first.join();
        second.join();
        ExpectListedAndKept(fixture);
        // One of them repaired it: the other found the old file gone, and changed nothing.
        const std::string fixed = ReadBytes(fixture.demos / "R_fixed.replay");
        EXPECT_TRUE(fixed == kFirstBody || fixed == kSecondBody);
        EXPECT_EQ(ReadBytes(fixture.backups / "R_copy.replay"), kOriginal);
        EXPECT_EQ(Names(fixture.demos), std::vector<std::string>{"R_fixed.replay"});
    }
}

#if !defined(_WIN32)

namespace {

// Where the writing process stops until the other process has done its part: nowhere but at the
// start (two processes answering at once), or at a step of the repair.
enum class Pause { AtTheStart, WhileWriting, BeforeReplacingAnEarlierRepair, AfterPlacingTheRepair };

// In the child: the platform's calls, except that at the pause it tells the parent and waits for
// its word.
class PausingFiles {
public:
    PausingFiles(Pause pause, int toParent, int fromParent) : toParent(toParent), fromParent(fromParent)
    {
        files.before = [this, pause](const FileCallSeen& seen) {
            if (pause == Pause::BeforeReplacingAnEarlierRepair && seen.call == FileCall::Rename
                && seen.target.filename() == "R_fixed.replay")
                Wait();
            return std::error_code();
        };
        files.after = [this, pause](const FileCallSeen& seen) {
            // Written but not yet marked whole, the file is still being written.
            const bool placed = seen.call == FileCall::Move && seen.target.filename() == "R_fixed.replay";
            if ((pause == Pause::WhileWriting && seen.call == FileCall::Write)
                || (pause == Pause::AfterPlacingTheRepair && placed))
                Wait();
        };
    }

    void Wait()
    {
        // A parent that is gone (its test failed) gives no word: go on, so that this process
        // still ends through its destructors and leaves no temporary folder behind.
        char word = 0;
        if (::write(toParent, "p", 1) != 1 || ::read(fromParent, &word, 1) != 1)
            return;
    }

private:
    testing_support::FaultyFiles files;
    int toParent, fromParent;
};

// The child: repairs R in demos with body, pausing as told; exits 0 when R was repaired and
// nothing was logged but "Post result(200)" (or, when it only started with another, at all).
[[noreturn]] void RepairInChild(const std::filesystem::path& demos, Pause pause, const std::string& body, int toParent,
                                int fromParent)
{
    int status = 1;
    {
        PipelineFixture fixture;
        fixture.Plugin().demosFolder.Set(demos);
        PausingFiles files(pause, toParent, fromParent);
        fixture.Play("R");
        if (pause == Pause::AtTheStart)
            files.Wait();
        fixture.Answer(200, body);
        const bool repaired = ReadBytes(demos / "R_fixed.replay") == body;
        status = pause == Pause::AtTheStart || (repaired && fixture.Log() == std::vector<std::string>{"Post result(200)"})
            ? 0
            : 1;
    }
    ::_exit(status);
}

// A game folder shared by processes: TAGame/Demos with R in it, and its backup folder.
struct SharedGameFolder {
    SharedGameFolder()
    {
        dir.MakeFolder(std::filesystem::path("TAGame") / kBackupFolderName);
        dir.MakeFile("TAGame/Demos/R.replay", kOriginal);
    }
    testing_support::TempDir dir;
    const std::filesystem::path demos = dir.MakeFolder("TAGame/Demos");
};

struct Pipes {
    Pipes()
    {
        if (::pipe(toParent) != 0 || ::pipe(fromParent) != 0)
            throw std::runtime_error("pipe");
    }
    ~Pipes()
    {
        for (int fd : {toParent[0], toParent[1], fromParent[0], fromParent[1]})
            ::close(fd);
    }
    int toParent[2], fromParent[2];
};

pid_t StartRepair(const SharedGameFolder& game, Pause pause, const std::string& body, const Pipes& pipes)
{
    const pid_t child = ::fork();
    if (child == 0) {
        // Only the parent writes to the child: when it dies, the child's wait ends.
        ::close(pipes.fromParent[1]);
        RepairInChild(game.demos, pause, body, pipes.toParent[1], pipes.fromParent[0]);
    }
    return child;
}

bool EndedWell(pid_t child)
{
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

TEST(ConcurrentReplies, AnotherProcessNeverSettlesATemporaryFileThatIsBeingWritten)
{
    for (Pause pause : {Pause::WhileWriting, Pause::BeforeReplacingAnEarlierRepair}) {
        SCOPED_TRACE(pause == Pause::WhileWriting ? "while writing" : "before replacing an earlier repair");
        // The child works in the folder the parent made; forked before any host thread runs here.
        SharedGameFolder game;
        if (pause == Pause::BeforeReplacingAnEarlierRepair)
            game.dir.MakeFile("TAGame/Demos/R_fixed.replay", "an earlier repair");
        Pipes pipes;
        const pid_t child = StartRepair(game, pause, kFirstBody, pipes);
        ASSERT_GE(child, 0);
        char word = 0;
        ASSERT_EQ(::read(pipes.toParent[0], &word, 1), 1) << "the child did not reach its pause";

        // This process loads the plugin on the same folder; its first answer settles leftovers.
        {
            PipelineFixture other;
            other.Plugin().demosFolder.Set(game.demos);
            game.dir.MakeFile("TAGame/Demos/S.replay", "another replay");
            other.Play("S");
            other.Answer(500);
        }
        ASSERT_EQ(::write(pipes.fromParent[1], "g", 1), 1);
        EXPECT_TRUE(EndedWell(child)) << "the other process's repair failed";
        EXPECT_EQ(ReadBytes(game.demos / "R_fixed.replay"), kFirstBody);
        EXPECT_EQ(ReadBytes(game.demos.parent_path() / kBackupFolderName / "R_copy.replay"), kOriginal);
    }
}

// Two game processes repairing one replay: the second waits for the first, so neither can take
// the other's repair away, whether the first stops after placing its repaired file or both start
// at once.
TEST(ConcurrentReplies, TwoProcessesAnsweringForOneReplayNeverUnlistIt)
{
    {
        SCOPED_TRACE("the first stops after placing its repaired file");
        SharedGameFolder game;
        Pipes pipes;
        const pid_t child = StartRepair(game, Pause::AfterPlacingTheRepair, kFirstBody, pipes);
        ASSERT_GE(child, 0);
        char word = 0;
        ASSERT_EQ(::read(pipes.toParent[0], &word, 1), 1) << "the child did not reach its pause";
        {
            // The second game waits for the first, then says its replay is already repaired.
            PipelineFixture other;
            other.Plugin().demosFolder.Set(game.demos);
            other.Play("R");
            ASSERT_TRUE(other.Recorder().AnswerNext(200, kSecondBody));
            // While the first holds the replays folder, the second's reply cannot end.
            EXPECT_FALSE(other.Host().Settle(std::chrono::seconds(2))) << "the second game did not wait";
            ASSERT_EQ(::write(pipes.fromParent[1], "g", 1), 1);
            ASSERT_TRUE(other.Host().Settle(std::chrono::seconds(60)));
            EXPECT_EQ(other.Log().back(), "Replay R is already repaired: its original had left the replays folder "
                                          "and R_fixed.replay is in place; this answer was not written");
            plugin::RepairSnapshot rows;
            other.Plugin().repairs.Refresh(rows);
            EXPECT_EQ(rows.rows.at(0).outcome,
                      "already repaired: play R_fixed; the original had left the replays folder");
        }
        EXPECT_TRUE(EndedWell(child)) << "the paused repair failed";
        EXPECT_EQ(ReadBytes(game.demos / "R_fixed.replay"), kFirstBody);
        EXPECT_EQ(ReadBytes(game.demos.parent_path() / kBackupFolderName / "R_copy.replay"), kOriginal);
    }
    for (int round = 0; round < 20 && !HasFailure(); ++round) {
        SCOPED_TRACE("both at once, round " + std::to_string(round));
        SharedGameFolder game;
        Pipes pipes;
        const pid_t first = StartRepair(game, Pause::AtTheStart, kFirstBody, pipes);
        const pid_t second = StartRepair(game, Pause::AtTheStart, kSecondBody, pipes);
        ASSERT_TRUE(first > 0 && second > 0);
        char words[2];
        ASSERT_EQ(::read(pipes.toParent[0], words, 1) + ::read(pipes.toParent[0], words + 1, 1), 2);
        ASSERT_EQ(::write(pipes.fromParent[1], "gg", 2), 2);
        EXPECT_TRUE(EndedWell(first) && EndedWell(second));
        const std::string fixed = ReadBytes(game.demos / "R_fixed.replay");
        EXPECT_TRUE(fixed == kFirstBody || fixed == kSecondBody) << fixed;
        EXPECT_EQ(ReadBytes(game.demos.parent_path() / kBackupFolderName / "R_copy.replay"), kOriginal);
        EXPECT_EQ(Names(game.demos), std::vector<std::string>{"R_fixed.replay"});
    }
}

#endif
