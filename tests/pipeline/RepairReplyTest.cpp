// What each answer of the repair service does to the files, the log and the rate-limit flag.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>

#include <fmt/format.h>

#include "FileSystem.h"
#include "RepairsSection.h"
#include "ReplayReplacement.h"
#include "platform/Processes.h"
#include "platform/ReplayFiles.h"
#include "pipeline/PipelineFixture.h"
#include "support/FaultyFiles.h"

using namespace plugin;

using testing_support::Names;
using testing_support::PipelineFixture;
using testing_support::ReadBytes;
using Lines = std::vector<std::string>;

namespace {

const std::string kOldBytes("old\r\nreplay\0bytes\n", 18);

// A fixture with Demos/R.replay uploaded and waiting for its answer.
struct Uploaded : PipelineFixture {
    Uploaded()
    {
        oldFile = AddReplay("R", kOldBytes);
        Play("R");
    }
    std::filesystem::path Repaired() const { return demos / "R_fixed.replay"; }
    std::filesystem::path BackupCopy() const { return backups / "R_copy.replay"; }

    std::filesystem::path oldFile;
};

} // namespace

TEST(RepairReply, Status200KeepsTheOldFileAsBackupAndWritesTheRepairedBytesExactly)
{
    Uploaded fixture;
    const std::string repaired("fixed\r\n\0\r\0\n\n\r", 14);
    fixture.Answer(200, repaired);

    EXPECT_EQ(ReadBytes(fixture.Repaired()), repaired);
    EXPECT_EQ(ReadBytes(fixture.BackupCopy()), kOldBytes);
    EXPECT_EQ(Names(fixture.demos), Lines{"R_fixed.replay"}); // old file gone, no leftovers
    EXPECT_EQ(fixture.Log(), Lines{"Post result(200)"});
    EXPECT_FALSE(fixture.Plugin().rateLimitHit);
    EXPECT_TRUE(fixture.Commands().empty());
}

TEST(RepairReply, Status200WithAnEmptyBodyLeavesTheOriginalInPlace)
{
    Uploaded fixture;
    fixture.Answer(200, "");
    EXPECT_EQ(ReadBytes(fixture.oldFile), kOldBytes);
    EXPECT_TRUE(Names(fixture.backups).empty());
    EXPECT_EQ(Names(fixture.demos), Lines{"R.replay"});
    EXPECT_EQ(fixture.Log(), (Lines{"Post result(200)", "Repair reply for R: the answer was empty; nothing written"}));
    EXPECT_EQ(fixture.NewestOutcome(), "failed: the answer was empty");
}

TEST(RepairReply, Status200OverwritesAnEarlierRepairedFile)
{
    Uploaded fixture;
    fixture.dir.MakeFile("TAGame/Demos/R_fixed.replay", "an earlier, much longer repaired replay");
    fixture.Answer(200, "new");
    EXPECT_EQ(ReadBytes(fixture.Repaired()), "new");
    EXPECT_EQ(Names(fixture.demos), Lines{"R_fixed.replay"});
}

#if !defined(_WIN32)
// A relative link moved into the backup folder would lead nowhere: the backup holds its bytes.
TEST(RepairReply, Status200BacksUpWhatARelativeLinkLeadsTo)
{
    PipelineFixture fixture;
    const std::filesystem::path target = fixture.dir.MakeFile("TAGame/Kept/R.bytes", kOldBytes);
    std::filesystem::create_symlink("../Kept/R.bytes", fixture.demos / "R.replay");
    fixture.Play("R");
    fixture.Answer(200, "new");
    EXPECT_EQ(Names(fixture.demos), Lines{"R_fixed.replay"});
    EXPECT_EQ(ReadBytes(fixture.backups / "R_copy.replay"), kOldBytes);
    EXPECT_EQ(ReadBytes(target), kOldBytes);
}
#endif

TEST(RepairReply, Status200LeavesEverythingWhenTheBackupCannotBeMade)
{
    {
        SCOPED_TRACE("backup copy already there");
        Uploaded fixture;
        fixture.dir.MakeFile(fixture.backups / "R_copy.replay", "earlier backup");
        fixture.Answer(200, "new");
        EXPECT_EQ(fixture.Log(), (Lines{"Post result(200)", "Error moving old file to backup folder: 183"}));
        EXPECT_EQ(fixture.NewestOutcome(), "failed: the original could not be moved to the backup folder (183)");
        EXPECT_EQ(ReadBytes(fixture.oldFile), kOldBytes);
        EXPECT_EQ(ReadBytes(fixture.BackupCopy()), "earlier backup");
        EXPECT_EQ(Names(fixture.demos), Lines{"R.replay"});
    }
    {
        SCOPED_TRACE("old file moved away since the upload");
        Uploaded fixture;
        std::filesystem::remove(fixture.oldFile);
        fixture.Answer(200, "new");
        EXPECT_EQ(fixture.Log(), (Lines{"Post result(200)", "Repaired R: its original had left the replays folder "
                                                            "before its backup"}));
        EXPECT_EQ(fixture.NewestOutcome(), "repaired: play R_fixed; the original had left the replays folder, so "
                                          "OV_Ravento_BackupReplays has no copy");
        // The repaired file is all that lists the replay now: it stays.
        EXPECT_EQ(Names(fixture.demos), Lines{"R_fixed.replay"});
    }
    {
        SCOPED_TRACE("another game repaired it first");
        Uploaded fixture;
        std::filesystem::rename(fixture.oldFile, fixture.BackupCopy());
        fixture.dir.MakeFile("TAGame/Demos/R_fixed.replay", "the other game's repair");
        fixture.Answer(200, "new");
        EXPECT_EQ(fixture.Log().back(), "Replay R is already repaired: its original had left the replays folder "
                                        "and R_fixed.replay is in place; this answer was not written");
        EXPECT_EQ(fixture.NewestOutcome(), "already repaired: play R_fixed; the original had left the replays folder");
        EXPECT_EQ(Names(fixture.demos), Lines{"R_fixed.replay"});
        EXPECT_EQ(ReadBytes(fixture.Repaired()), "the other game's repair");
    }
}

// A lock file that can never be locked is no live reply: the reply goes on at once, says why.
TEST(RepairReply, Status200GoesOnWithoutAFolderLockThatCannotBeHad)
{
    {
        Uploaded fixture;
        fixture.dir.MakeFolder("TAGame/Demos/.ravento-replies.lock");
        fixture.Answer(200, "new");
        EXPECT_EQ(ReadBytes(fixture.Repaired()), "new");
        ASSERT_EQ(fixture.Log().size(), 2u);
        EXPECT_EQ(fixture.Log()[1].rfind("Replays folder not locked against other games (", 0), 0u);
        EXPECT_EQ(Names(fixture.demos), (Lines{".ravento-replies.lock", "R_fixed.replay"}));
        EXPECT_EQ(fixture.NewestOutcome(), "repaired: play R_fixed; the original is in OV_Ravento_BackupReplays");
    }
    // Another game's live hold is waited for (30 s, here shortened); one that lasts changes nothing.
    EXPECT_EQ(plugin::FolderLockWait(), std::chrono::seconds(30));
    plugin::SetFolderLockWait(std::chrono::seconds(1));
    struct RestoreWait {
        ~RestoreWait() { plugin::SetFolderLockWait(std::chrono::seconds(30)); }
    } restoreWait;
    testing_support::FaultyFiles files;
    files.before = [](const testing_support::FileCallSeen& seen) {
        const bool lock = seen.call == testing_support::FileCall::Hold && seen.file.extension() == ".lock";
        return lock ? platform::ReplayFileError(platform::FileError::LockViolation) : std::error_code();
    };
    Uploaded held;
    ASSERT_TRUE(held.Recorder().AnswerNext(200, "new"));
    ASSERT_TRUE(held.Host().Settle(std::chrono::seconds(60)));
    EXPECT_EQ(held.Log().back(), "Replay R left as it was: another game process kept the replays folder busy");
    EXPECT_EQ(held.NewestOutcome(), "failed: another game process kept the replays folder busy");
}

TEST(RepairReply, Status200MakesTheBackupFolderBesideTheReplaysFolderAsNamed)
{
    {
        SCOPED_TRACE("a folder typed in by the player, with no backup folder beside it yet");
        Uploaded fixture;
        std::filesystem::remove(fixture.backups);
        fixture.Answer(200, "new");
        EXPECT_EQ(fixture.Log(), (Lines{"Post result(200)", "Created Backup Directory"}));
        EXPECT_EQ(ReadBytes(fixture.Repaired()), "new");
        EXPECT_EQ(ReadBytes(fixture.BackupCopy()), kOldBytes);
    }
#if !defined(_WIN32)
    {
        // The backup folder lies beside the link, as discovery makes it, not beside its target.
        SCOPED_TRACE("a replays folder reached through a symbolic link");
        Uploaded fixture;
        const std::filesystem::path target = fixture.dir.MakeFolder("Elsewhere/Real");
        const std::filesystem::path link = fixture.dir.Path() / "Linked" / "Demos";
        fixture.dir.MakeFolder("Linked");
        std::filesystem::create_directory_symlink(target, link);
        fixture.dir.MakeFile("Elsewhere/Real/R.replay", kOldBytes);
        fixture.Plugin().demosFolder.Set(link);
        fixture.Play("R");
        fixture.Answer(500); // the request made for the fixture's own folder
        fixture.Answer(200, "new");
        EXPECT_EQ(fixture.Log(), (Lines{"Post result(500)", "Post result(200)", "Created Backup Directory"}));
        EXPECT_EQ(ReadBytes(target / "R_fixed.replay"), "new");
        EXPECT_EQ(ReadBytes(fixture.dir.Path() / "Linked" / kBackupFolderName / "R_copy.replay"), kOldBytes);
        EXPECT_FALSE(std::filesystem::exists(fixture.dir.Path() / "Elsewhere" / kBackupFolderName));
    }
#endif
    // Worked out as text, the way Windows resolves "..", from the absolute path: a relative folder
    // stored by an earlier version ("." the replays folder itself) has its parent too.
    const std::filesystem::path games = std::filesystem::current_path() / "games";
    for (const std::filesystem::path& demos :
         {std::filesystem::path("games") / "Demos", games / "Demos" / "", games / "x" / ".." / "Demos"})
        EXPECT_EQ(BackupFolderBeside(demos), games / kBackupFolderName) << demos;
    EXPECT_EQ(BackupFolderBeside("."), std::filesystem::current_path().parent_path() / kBackupFolderName);
}

TEST(RepairReply, Status429RaisesTheFlagAndOpensTheWindowWithoutEverClosingIt)
{
    Uploaded fixture;
    fixture.Play("R");
    fixture.Play("R");
    fixture.Answer(429, "slow down");
    EXPECT_TRUE(fixture.Plugin().rateLimitHit);
    fixture.Host().FinishGameWork();
    EXPECT_TRUE(fixture.Host().IsWindowOpen());
    fixture.Answer(429); // a second refusal leaves the notice open
    EXPECT_TRUE(fixture.Plugin().rateLimitHit);
    fixture.Host().FinishGameWork();
    EXPECT_TRUE(fixture.Host().IsWindowOpen());
    EXPECT_EQ(fixture.Commands(), Lines{"togglemenu Ravento [false]"});
    // Closed by the player, the window opens again for the next refusal.
    fixture.Host().ExecuteCommand("togglemenu Ravento");
    fixture.Play("R");
    fixture.Answer(429);
    fixture.Host().FinishGameWork();
    EXPECT_TRUE(fixture.Host().IsWindowOpen());
    EXPECT_TRUE(fixture.Log().empty());
    EXPECT_EQ(Names(fixture.demos), Lines{"R.replay"});
    EXPECT_TRUE(Names(fixture.backups).empty());

    fixture.Answer(200, "fixed"); // any other answer lowers the flag again
    EXPECT_FALSE(fixture.Plugin().rateLimitHit);
    EXPECT_EQ(fixture.Log(), Lines{"Post result(200)"});
    EXPECT_EQ(ReadBytes(fixture.Repaired()), "fixed");
}

TEST(RepairReply, Status400GivesTheOldFileTheRepairedName)
{
    Uploaded fixture;
    fixture.Answer(400, "cannot repair");
    EXPECT_EQ(Names(fixture.demos), Lines{"R_fixed.replay"});
    EXPECT_EQ(ReadBytes(fixture.Repaired()), kOldBytes);
    EXPECT_TRUE(Names(fixture.backups).empty());
    EXPECT_EQ(fixture.Log(), Lines{"DataSize 13"});
    EXPECT_FALSE(fixture.Plugin().rateLimitHit);

    // An existing file of that name is not replaced; the old file stays.
    std::filesystem::path second = fixture.AddReplay("R", "second");
    fixture.Play("R");
    fixture.Answer(400);
    EXPECT_EQ(ReadBytes(second), "second");
    EXPECT_EQ(ReadBytes(fixture.Repaired()), kOldBytes);
    EXPECT_EQ(fixture.Log(), (Lines{"DataSize 13", "DataSize 0"}));
}

// The player chose another folder while the uploads were under way: the replies still act on the
// folder each replay was found in, where its backup folder is too.
TEST(RepairReply, RepliesActOnTheFolderTheirReplayWasFoundIn)
{
    Uploaded fixture;
    fixture.AddReplay("S", "S's bytes");
    fixture.Play("S");
    const std::filesystem::path chosenLater = fixture.dir.MakeFolder("Elsewhere/Demos");
    fixture.Plugin().demosFolder.Set(chosenLater);
    fixture.Answer(200, "fixed");
    fixture.Answer(400);
    EXPECT_EQ(Names(fixture.demos), (Lines{"R_fixed.replay", "S_fixed.replay"}));
    EXPECT_EQ(ReadBytes(fixture.BackupCopy()), kOldBytes);
    EXPECT_TRUE(Names(chosenLater).empty());
    EXPECT_FALSE(std::filesystem::exists(chosenLater.parent_path() / kBackupFolderName));
}

TEST(RepairReply, OtherStatusesAreOnlyLogged)
{
    Uploaded fixture;
    fixture.Play("R");
    fixture.Play("R");
    fixture.Play("R");
    fixture.Plugin().rateLimitHit = true;
    // The host passes 0 alone for any answer it could not get whole.
    for (auto [status, words] : {std::pair{500, "the service failed (500)"},
                                 {404, "the service answered 404"},
                                 {503, "the service is busy (503)"},
                                 {0, "the repair service could not be reached or its answer was cut short"}}) {
        fixture.Answer(status, "body");
        EXPECT_FALSE(fixture.Plugin().rateLimitHit) << status;
        EXPECT_EQ(fixture.NewestOutcome(), std::string("failed: ") + words);
    }
    EXPECT_EQ(fixture.Log(), (Lines{"Post result(500)", "Post result(404)", "Post result(503)", "Post result(0)"}));
    EXPECT_EQ(Names(fixture.demos), Lines{"R.replay"});
    EXPECT_TRUE(Names(fixture.backups).empty());
    EXPECT_TRUE(fixture.Commands().empty());
}

TEST(RepairReply, A200WithoutDataOrFolderWritesNothing)
{
    PipelineFixture fixture;
    std::filesystem::path oldFile = fixture.AddReplay("R", kOldBytes);
    fixture.Plugin().OnRepairReply(fixture.demos, oldFile, "R", 200, nullptr, 42);
    EXPECT_EQ(Names(fixture.demos), Lines{"R.replay"});
    EXPECT_TRUE(Names(fixture.backups).empty());
    Lines log = fixture.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Post result(200)");
    EXPECT_EQ(log[1], "Repair reply for R: the answer announced bytes but carried none; nothing written");

    // No replays folder (the panel never set one): neither answer touches a file.
    fixture.Plugin().OnRepairReply({}, oldFile, "R", 400, nullptr, 0);
    fixture.Plugin().OnRepairReply({}, oldFile, "R", 200, "fixed", 5);
    EXPECT_EQ(Names(fixture.demos), Lines{"R.replay"});
    log = fixture.Log();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[2], "DataSize 0");
    EXPECT_EQ(log[3], "Repair reply for R: no replays folder is set; nothing written");
    EXPECT_EQ(log[5], log[3]);

    // A folder that cannot be listed settles nothing, so the next reply that can list one still
    // settles it.
    fixture.Reload();
    fixture.Plugin().OnRepairReply(fixture.demos / "gone", oldFile, "R", 500, nullptr, 0);
    EXPECT_FALSE(fixture.Plugin().leftoversSettled.load());

    // No bytes, announced or sent, are no repair: the original stays where it is.
    fixture.Plugin().OnRepairReply(fixture.demos, oldFile, "R", 200, nullptr, 0);
    EXPECT_EQ(Names(fixture.demos), Lines{"R.replay"});
    EXPECT_TRUE(Names(fixture.backups).empty());
    EXPECT_EQ(fixture.Log().back(), "Repair reply for R: the answer was empty; nothing written");
    EXPECT_TRUE(fixture.Plugin().leftoversSettled.load());
}

TEST(RepairReply, IdentifiersUpToTheNameLimitAreRepaired)
{
    // 242 bytes + "_fixed.replay" is the longest name a file system of 255-byte names holds.
    for (std::size_t length : {222u, 242u}) {
        PipelineFixture fixture;
        const std::string id(length, 'r');
        fixture.AddReplay(id, kOldBytes);
        fixture.Play(id);
        fixture.Answer(200, "fixed");
        EXPECT_EQ(Names(fixture.demos), Lines{id + "_fixed.replay"}) << length;
        EXPECT_EQ(ReadBytes(fixture.backups / (id + "_copy.replay")), kOldBytes) << length;
        EXPECT_EQ(fixture.Log(), Lines{"Post result(200)"}) << length;
    }
}

TEST(RepairReply, TheFirstReplySettlesWhatACrashLeftAndNothingElse)
{
    Uploaded fixture;
    const std::uint32_t self = platform::CurrentProcessId();
    const std::string nearMisses[] = {
        ".ravento-0123456789abcdef-00000001-0123456.tmp",   ".ravento-0123456789abcdef_00000001-01234567.tmp",
        ".ravento-0123456789abcdef-00000001-01234567.tmp~", "ravento-0123456789abcdef-00000001-01234567.tmp",
        ".ravento-0123456789abcdeg-00000001-01234567.tmp",  ".ravento-0123456789ABCDEF-00000001-01234567.tmp",
        ".ravento-0123456789abcde!-00000001-01234567.tmp",  ".ravento-0123456789abcdef-00000001-01234567.bak",
        "R.tmp",
    };
    for (const std::string& name : nearMisses)
        fixture.dir.MakeFile("TAGame/Demos/" + name, "not ours");
    auto demosFile = [&](const std::filesystem::path& name) { return std::filesystem::path("TAGame/Demos") / name; };
    auto backupFile = [&](const std::filesystem::path& name) {
        return std::filesystem::path("TAGame") / kBackupFolderName / name;
    };
    // A crash between the backup move and the rename: Q is only in the backup folder, and its
    // finished temporary file is all there is of the repair.
    fixture.dir.MakeFile(backupFile("Q_copy.replay"), "old Q");
    fixture.dir.MakeFile(demosFile(NewTemporaryNames("Q", self).whole), "repaired Q");
    // T's old file is still listed: its finished temporary file is not the repair, and goes. The
    // backup folder's other files are no one's copies.
    fixture.dir.MakeFile(backupFile("T_copy.replay"), "old T");
    fixture.dir.MakeFile(demosFile("T.replay"), "T");
    fixture.dir.MakeFile(demosFile(NewTemporaryNames("T", self).whole), "repaired T");
    fixture.dir.MakeFile(backupFile("notes.txt"), "the player's");
    fixture.dir.MakeFile(backupFile("a"), "short");
    // P was repaired before; a later repair of it died while writing. Half a file is never used,
    // nor half a copy on its way into the backup folder.
    fixture.dir.MakeFile(backupFile("P_copy.replay"), "old P");
    fixture.dir.MakeFile(demosFile(NewTemporaryNames("P", self).writing), "repai");
    fixture.dir.MakeFile(backupFile(NewTemporaryNames("P", self).writing), "old");
    // V is listed as a repair: a finished temporary file beside it, whatever its time (a later
    // reply's repair, or one planted or synced from another machine), never replaces it. Nor is
    // a backup-folder file of the finished form a reply's: a reply never leaves one there.
    fixture.dir.MakeFile(backupFile("V_copy.replay"), "old V");
    fixture.dir.MakeFile(demosFile("V_fixed.replay"), "the later repair of V");
    const std::filesystem::path planted =
        fixture.dir.MakeFile(demosFile(NewTemporaryNames("V", self).whole), "planted");
    std::filesystem::last_write_time(planted, std::filesystem::file_time_type::clock::now() + std::chrono::hours(1));
    const std::filesystem::path backupWhole = NewTemporaryNames("V", self).whole;
    fixture.dir.MakeFile(backupFile(backupWhole), "the player's");
    // A process id says nothing: this one runs, and an earlier version's name has none.
    const std::uint32_t running = 1;
    fixture.dir.MakeFile(demosFile(NewTemporaryNames("S", running).writing), "x");
    fixture.dir.MakeFile(demosFile(".ravento-0123456789abcdef-00000001.tmp"), "an earlier version's");
    // What a live reply holds stays, in either folder, whichever process id it names.
    const std::filesystem::path writing = NewTemporaryNames("S", running).writing;
    const std::filesystem::path copying = NewTemporaryNames("U", running).writing;
    platform::FileHandle writingHeld = 0, copyingHeld = 0;
    ASSERT_FALSE(platform::ReplayFiles().Hold(fixture.dir.MakeFile(demosFile(writing), "still being written"), false,
                                              writingHeld));
    ASSERT_FALSE(platform::ReplayFiles().Hold(fixture.dir.MakeFile(backupFile(copying), "still being copied"), false,
                                              copyingHeld));
    Lines expected(std::begin(nearMisses), std::end(nearMisses));
    expected.push_back(writing.string());

    fixture.Answer(500);
    platform::ReplayFiles().Release(writingHeld);
    platform::ReplayFiles().Release(copyingHeld);

    expected.insert(expected.end(), {"Q_fixed.replay", "R.replay", "T.replay", "V_fixed.replay"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(fixture.demos), expected);
    EXPECT_EQ(ReadBytes(fixture.demos / "Q_fixed.replay"), "repaired Q");
    EXPECT_EQ(ReadBytes(fixture.demos / "V_fixed.replay"), "the later repair of V");
    Lines backups{"P_copy.replay", "Q_copy.replay", "T_copy.replay", "V_copy.replay", "a", "notes.txt",
                  copying.string(), backupWhole.string()};
    std::sort(backups.begin(), backups.end());
    EXPECT_EQ(Names(fixture.backups), backups);
    // Each file installed or removed has its line: five in the replays folder, one in the backup.
    const Lines log = fixture.Log();
    auto count = [&log](const char* start) {
        return std::count_if(log.begin(), log.end(), [&](auto& line) { return line.starts_with(start); });
    };
    EXPECT_EQ(count("Removed leftover file "), 6);
    EXPECT_EQ(count("Installed leftover repair "), 1);

    // Once per load: a temporary file that turns up later is left to the next load.
    fixture.dir.MakeFile(demosFile(NewTemporaryNames("P", self).writing), "later");
    fixture.Play("R");
    fixture.Answer(500);
    EXPECT_EQ(Names(fixture.demos).size(), expected.size() + 1);
}

TEST(RepairReply, TheSettingsWindowListsTheNewestTenUploadsWithTheirOutcomes)
{
    Uploaded fixture;
    for (const char* id : {"B", "C", "D", "E", "F"}) {
        fixture.AddReplay(id);
        fixture.Play(id);
    }
    fixture.dir.MakeFile(fixture.backups / "D_copy.replay", "earlier backup");
    for (int status : {200, 400, 500, 200, 429})
        fixture.Answer(status, "fixed");
    // Ages run on while the test does; only their form is compared.
    auto frame = [&] {
        return std::regex_replace(fixture.Host().CaptureFrameText(), std::regex("\\d+ s ago"), "# s ago");
    };
    ASSERT_TRUE(fixture.Host().ExecuteCommand("togglemenu Ravento"));
    EXPECT_EQ(frame(), "Ravento\nRate Limit Hit (10 every 30 minutes)\nRepairs this session\n"
                       "F, # s ago\n  sending\n"
                       "E, # s ago\n  refused: 10 uploads per 30 minutes; play it again later\n"
                       "D, # s ago\n  failed: the original could not be moved to the backup folder (183)\n"
                       "C, # s ago\n  failed: the service failed (500)\n"
                       "B, # s ago\n  not repairable: kept as B_fixed, unchanged\n"
                       "R, # s ago\n  repaired: play R_fixed; the original is in OV_Ravento_BackupReplays\n");

    // Eleven more push F out: its late answer changes none of the ten rows left.
    for (int play = 0; play < 11; ++play) {
        fixture.AddReplay(fmt::format("N{}", play));
        fixture.Play(fmt::format("N{}", play));
    }
    fixture.Answer(500);
    const std::string newest = frame();
    EXPECT_NE(newest.find("[ Check ]\nRepairs this session\nN10, # s ago\n  sending\nN9, "), std::string::npos) << newest;
    EXPECT_EQ(std::count(newest.begin(), newest.end(), '\n'), 5 + 2 * 10) << newest;
    EXPECT_EQ(newest.find("F, "), std::string::npos);
    EXPECT_EQ(newest.find("failed"), std::string::npos);

    char age[32];
    for (auto [seconds, text] : {std::pair{59, "59 s ago"}, {185, "3 min ago"}, {7300, "2 h ago"}}) {
        FormatAge(std::chrono::seconds(seconds), age, sizeof age);
        EXPECT_STREQ(age, text);
    }
}
