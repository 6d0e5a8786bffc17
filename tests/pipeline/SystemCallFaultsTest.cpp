// The reply paths against failing system calls, the way SQLite tests its I/O: count the calls a
// reply makes in the replays and backup folders, then fail the first, then the second, ... each
// time in a fresh game folder. After every run the replay must still be listed, its original
// bytes kept, nothing may have escaped to the host, a run that did not repair must have said why,
// and the next load must leave no temporary file behind.
//
// The calls fail through SystemCallFaults.h: the program's own versions of the system's file
// calls, in front of the C library's (POSIX) or kernel32's (Windows).
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "ReplayReplacement.h"
#include "pipeline/PipelineFixture.h"
#include "pipeline/SystemCallFaults.h"
#include "platform/ReplayFiles.h"
#include "support/ReplayGuarantee.h"

using plugin::IsTemporaryName;
using testing_support::Names;
using testing_support::PipelineFixture;
using testing_support::ReadBytes;

namespace {

const std::string kOriginal = "the original replay";
const std::string kRepaired = "the repaired replay";
const std::string kEarlierRepair = "an earlier repair";

struct Scenario {
    const char* name;
    int status;
    bool earlierRepair = false; // R_fixed.replay from an earlier repair
    bool backupOnOtherVolume = false; // the backup folder on /dev/shm: the backup is copied
    bool noReplaceUnsupported = false; // a file system without RENAME_NOREPLACE (POSIX)
};

// One answer for R in a fresh game folder, with the plan's fault; checks what must hold after it.
system_call_faults::Counts AnswerWithFault(const Scenario& scenario, int failAt)
{
    PipelineFixture fixture;
    std::filesystem::path shmFolder;
    if (scenario.backupOnOtherVolume) {
#if !defined(_WIN32)
        shmFolder = std::filesystem::path("/dev/shm") / ("ravento-faults-" + std::to_string(::getpid()));
#endif
        std::filesystem::remove_all(shmFolder);
        std::filesystem::create_directory(shmFolder);
        std::filesystem::remove(fixture.backups);
        std::filesystem::create_directory_symlink(shmFolder, fixture.backups);
    }
    fixture.AddReplay("R", kOriginal);
    if (scenario.earlierRepair)
        fixture.dir.MakeFile("TAGame/Demos/R_fixed.replay", kEarlierRepair);
    fixture.Play("R");
    system_call_faults::Arm(fixture.dir.Path(), failAt, scenario.noReplaceUnsupported);
    fixture.Answer(scenario.status, kRepaired);
    const system_call_faults::Counts run = system_call_faults::Disarm();
    const std::string where = std::string(scenario.name) + ", call " + std::to_string(failAt) + " failed";

    // The replay is listed and its original bytes are kept.
    const auto fixed = fixture.demos / "R_fixed.replay";
    EXPECT_EQ(testing_support::BrokenGuarantee(
                  {{fixture.demos}, fixture.backups, "R", kOriginal, {kRepaired, kEarlierRepair}}),
              "")
        << where;
    // Done, or said why not.
    const bool done =
        scenario.status == 400 ? !std::filesystem::exists(fixture.demos / "R.replay") : ReadBytes(fixed) == kRepaired;
    const auto log = fixture.Log();
    const bool explained = std::any_of(log.begin(), log.end(), [](const std::string& line) {
        return line != "Post result(200)" && line.rfind("DataSize ", 0) != 0;
    });
    // Not done is undone: the replay is where it was.
    if (!done) {
        EXPECT_EQ(ReadBytes(fixture.demos / "R.replay"), kOriginal) << where;
    }
    // A 400's rename is silent when it fails: the replay stays listed and is offered again.
    EXPECT_TRUE(done || explained || scenario.status == 400) << where << ": nothing done and nothing said";
    if (failAt == 0) {
        EXPECT_TRUE(done && !explained) << where << ": " << fmt::format("{}", fmt::join(log, " | "));
    }
    for (const std::string& line : fixture.HostLines())
        EXPECT_EQ(line.find(" threw"), std::string::npos) << where << ": " << line;

    // The next load settles what the failure left.
    fixture.Reload();
    fixture.Plugin().demosFolder.Set(fixture.demos);
    fixture.AddReplay("S");
    fixture.Play("S");
    fixture.Answer(500);
    for (const auto& folder : {fixture.demos, fixture.backups}) {
        for (const std::string& name : Names(folder))
            EXPECT_FALSE(IsTemporaryName(name)) << where << ": left behind: " << name;
    }
    if (!shmFolder.empty())
        std::filesystem::remove_all(shmFolder);
    return run;
}

} // namespace

TEST(SystemCallFaults, EveryCallOfAReplyFailsInTurnAndNothingIsLost)
{
    system_call_faults::InstallInterposers();
    std::vector<Scenario> scenarios = {
        {"a repair", 200},
        {"a repair over an earlier one", 200, true},
        {"a replay that cannot be repaired", 400},
    };
#if !defined(_WIN32)
    scenarios.push_back({"a repair without RENAME_NOREPLACE", 200, false, false, true});
    scenarios.push_back({"a repair over an earlier one without RENAME_NOREPLACE", 200, true, false, true});
    // /dev/shm is a file system of its own: the backup is copied there, not moved.
    if (std::filesystem::is_directory("/dev/shm"))
        scenarios.push_back({"a repair with the backup folder on another volume", 200, false, true});
#endif
    for (const Scenario& scenario : scenarios) {
        const system_call_faults::Counts clean = AnswerWithFault(scenario, 0);
        // Progress: the reply did its file work through these calls; each of them fails once.
        ASSERT_GT(clean.calls, 0) << scenario.name;
        int struck = 0;
        for (int failAt = 1; failAt <= clean.calls; ++failAt)
            struck += AnswerWithFault(scenario, failAt).struck;
        EXPECT_EQ(struck, clean.calls) << scenario.name << ": some planned faults never struck";
        std::printf("%s: %d calls, each failed once\n", scenario.name, clean.calls);
    }
}

// The copy that carries an old file to a backup folder on another volume: whichever call fails,
// it reports the failure and leaves no copy behind, and the source stays as it was.
TEST(SystemCallFaults, ACopyThatFailsAnywhereLeavesNoFile)
{
    system_call_faults::InstallInterposers();
    testing_support::TempDir dir;
    const std::filesystem::path from = dir.MakeFile("from", kOriginal);
    const std::filesystem::path to = dir.Path() / "to";
    platform::ReplayFileSystem& files = platform::ReplayFiles();

    system_call_faults::Arm(dir.Path(), 0, false);
    ASSERT_FALSE(files.CopyToNewFile(from, to));
    const int calls = system_call_faults::Disarm().calls;
    ASSERT_EQ(ReadBytes(to), kOriginal);
    ASSERT_GT(calls, 2);
    std::filesystem::remove(to);

    int failures = 0;
    for (int failAt = 1; failAt <= calls; ++failAt) {
        system_call_faults::Arm(dir.Path(), failAt, false);
        const std::error_code error = files.CopyToNewFile(from, to);
        const system_call_faults::Counts run = system_call_faults::Disarm();
        EXPECT_EQ(run.struck, 1) << "call " << failAt;
        // A failed close of the source after the bytes were read harms nothing; anything else
        // that fails ends the copy.
        if (error) {
            EXPECT_FALSE(std::filesystem::exists(to)) << "call " << failAt << " failed and left a copy";
        } else {
            EXPECT_EQ(ReadBytes(to), kOriginal) << "call " << failAt << " failed and the copy said nothing";
        }
        failures += error ? 1 : 0;
        EXPECT_EQ(ReadBytes(from), kOriginal) << "call " << failAt;
        std::filesystem::remove(to);
    }
    EXPECT_GE(failures, calls - 2) << "at most the closes of what was only read may fail unseen";
}

#if !defined(_WIN32)
// File systems without RENAME_NOREPLACE get the move by link and unlink: it must answer every
// case as the real move does, since the reply decides on its answers.
TEST(SystemCallFaults, AMoveByLinkAnswersAsTheMoveItStandsFor)
{
    testing_support::TempDir dir;
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    struct Case {
        const char* what;
        std::filesystem::path from, to;
    };
    const std::filesystem::path present = dir.MakeFile("present", "x");
    const std::filesystem::path taken = dir.MakeFile("taken", "y");
    const Case cases[] = {
        {"a missing source", dir.Path() / "missing", dir.Path() / "to"},
        {"a missing target folder", present, dir.Path() / "no folder" / "to"},
        {"a taken name", present, taken},
    };
    for (const Case& move : cases) {
        const std::error_code byRename = files.MoveWithoutReplace(move.from, move.to);
        system_call_faults::Arm(dir.Path(), 0, true);
        const std::error_code byLink = files.MoveWithoutReplace(move.from, move.to);
        system_call_faults::Disarm();
        EXPECT_TRUE(byRename) << move.what;
        EXPECT_EQ(byLink, byRename) << move.what;
    }
    EXPECT_EQ(ReadBytes(present), "x");
    EXPECT_EQ(ReadBytes(taken), "y");
}
#endif

// The names a reply can find taken or missing, as each creation reports them.
TEST(SystemCallFaults, CreationsNameATakenOrMissingPlace)
{
    testing_support::TempDir dir;
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    const std::filesystem::path taken = dir.MakeFile("taken", "y");
    platform::FileHandle handle = 0;
    EXPECT_TRUE(platform::Is(files.CreateNewFile(taken, handle), platform::FileError::FileExists));
    EXPECT_TRUE(platform::IsNameTaken(files.CreateFolder(taken)));
    EXPECT_TRUE(
        platform::Is(files.CopyToNewFile(taken, dir.Path() / "no folder" / "copy"), platform::FileError::PathNotFound));
    EXPECT_TRUE(platform::IsNameTaken(platform::ReplayFileError(platform::FileError::AlreadyExists)));
    EXPECT_EQ(ReadBytes(taken), "y");
}

// Bytes reach the disk before they are named: every file the seam writes or copies is flushed
// before it is closed. A process kill cannot show a skipped flush, a power cut would; so the
// flushes are counted.
TEST(SystemCallFaults, WrittenAndCopiedFilesAreFlushedBeforeTheyAreClosed)
{
    testing_support::TempDir dir;
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    system_call_faults::Arm(dir.Path(), 0, false);
    platform::FileHandle handle = 0;
    ASSERT_FALSE(files.CreateNewFile(dir.Path() / "written", handle));
    ASSERT_FALSE(files.Write(handle, "bytes"));
    ASSERT_FALSE(files.Close(handle));
    ASSERT_FALSE(files.CopyToNewFile(dir.Path() / "written", dir.Path() / "copied"));
    EXPECT_EQ(system_call_faults::Disarm().flushes, 2); // the written file's and the copy's
    EXPECT_EQ(ReadBytes(dir.Path() / "copied"), "bytes");
}

// The replay lookup and the folder query: whichever call fails, they report an error or give
// the answer they give without faults, never another.
TEST(SystemCallFaults, ALookupOrQueryThatFailsSaysSoOrAnswersRight)
{
    system_call_faults::InstallInterposers();
    testing_support::TempDir dir;
    const std::filesystem::path folder = dir.MakeFolder("Demos");
    dir.MakeFile("Demos/R.replay", kOriginal);
    for (const char* name : {"R.replay", "S.replay"}) {
        bool expected = false;
        system_call_faults::Arm(dir.Path(), 0, false);
        ASSERT_FALSE(platform::ReplayFiles().FindExactEntry(folder, name, expected));
        const int calls = system_call_faults::Disarm().calls;
        ASSERT_GT(calls, 0) << name;
        for (int failAt = 1; failAt <= calls; ++failAt) {
            bool found = false;
            system_call_faults::Arm(dir.Path(), failAt, false);
            const std::error_code error = platform::ReplayFiles().FindExactEntry(folder, name, found);
            EXPECT_EQ(system_call_faults::Disarm().struck, 1) << name << ", call " << failAt;
            EXPECT_TRUE(error || found == expected) << name << ", call " << failAt << " failed unseen";
        }
    }
    for (const std::filesystem::path& path : {folder, folder / "R.replay", folder / "missing"}) {
        platform::EntryKind kind{};
        system_call_faults::Arm(dir.Path(), 1, false);
        const std::error_code error = platform::ReplayFiles().QueryEntryKind(path, kind);
        system_call_faults::Disarm();
        EXPECT_TRUE(error) << path << ": a failed query is no answer";
    }
}
