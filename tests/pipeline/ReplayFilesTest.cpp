// The file seam on the real file system, and the reply handling when a file operation fails
// part way (failures injected through the seam).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <stdexcept>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "FileSystem.h"
#include "pipeline/PipelineFixture.h"
#include "platform/CodePage.h"
#include "platform/ReplayFiles.h"
#include "support/CodePageText.h"
#include "support/FaultyFiles.h"

using namespace plugin;

using testing_support::CodePageText;
using testing_support::Names;
using testing_support::PipelineFixture;
using testing_support::ReadBytes;
using testing_support::TempDir;
using Lines = std::vector<std::string>;
using platform::FileError;

// [SECTION] The platform's operations

TEST(ReplayFiles, ExactEntryLookupFindsRegularFilesOnly)
{
    TempDir dir;
    dir.MakeFile("Demos/R.replay");
    dir.MakeFolder("Demos/S.replay");
    std::filesystem::path demos = dir.Path() / "Demos";
    struct Case {
        std::filesystem::path name;
        bool found;
    };
    std::vector<Case> cases = {
        {"R.replay", true},
        {"S.replay", false},
        {"r.replay", false},
        {"R.REPLAY", false},
        {"R.replay ", false},
        {"R", false},
        {"R.rep*", false},
        {"R.replay?", false},
        {".", false},
        {"..", false},
        {"", false},
        {"../Demos", false},
        {std::string(300, 'R'), false},
    };
#if !defined(_WIN32)
    // Opening a FIFO for the upload would block until a writer came; a socket or device no better.
    ASSERT_EQ(::mkfifo((demos / "F.replay").c_str(), 0600), 0);
    std::filesystem::create_symlink(demos / "R.replay", demos / "L.replay");
    std::filesystem::create_directory_symlink(demos / "S.replay", demos / "D.replay");
    std::filesystem::create_symlink(demos / "gone", demos / "G.replay");
    cases.insert(cases.end(), {{"F.replay", false}, {"L.replay", true}, {"D.replay", false}, {"G.replay", false}});
#endif
    // A folder typed with a closing separator names the same folder.
    const std::filesystem::path typed = demos.native() + std::filesystem::path::preferred_separator;
    for (const Case& check : cases) {
        for (const std::filesystem::path& folder : {demos, typed}) {
            bool found = !check.found;
            EXPECT_FALSE(platform::ReplayFiles().FindExactEntry(folder, check.name, found)) << folder << " " << check.name;
            EXPECT_EQ(found, check.found) << folder << " " << check.name;
        }
    }

    for (const std::filesystem::path& folder : {std::filesystem::path(), dir.Path() / "Missing", demos / "R.replay"}) {
        bool found = true;
        EXPECT_TRUE(platform::ReplayFiles().FindExactEntry(folder, "R.replay", found)) << folder;
        EXPECT_FALSE(found);
    }
}

TEST(ReplayFiles, MovesNeverReplaceAndReportWindowsCodes)
{
    TempDir dir;
    std::filesystem::path from = dir.MakeFile("a", "A");
    std::filesystem::path taken = dir.MakeFile("b", "B");
    platform::ReplayFileSystem& files = platform::ReplayFiles();

    EXPECT_TRUE(platform::Is(files.MoveWithoutReplace(from, taken), platform::FileError::AlreadyExists));
    EXPECT_TRUE(platform::Is(files.MoveWithoutReplace(from, dir.Path() / "missing" / "c"),
                             platform::FileError::PathNotFound));
    EXPECT_TRUE(platform::Is(files.MoveWithoutReplace(dir.Path() / "nothing", dir.Path() / "c"),
                             platform::FileError::FileNotFound));
    EXPECT_EQ(ReadBytes(from), "A");
    EXPECT_EQ(ReadBytes(taken), "B");

    EXPECT_FALSE(files.MoveWithoutReplace(from, dir.Path() / "c"));
    EXPECT_EQ(Names(dir.Path()), (Lines{"b", "c"}));
}

TEST(ReplayFiles, MovesStayOnTheirVolumeAndCopiesAreNewFiles)
{
    // /dev/shm is a separate memory file system on Linux; elsewhere there is nothing to cross.
    if (!std::filesystem::is_directory("/dev/shm"))
        GTEST_SKIP() << "no second file system to move to";
    TempDir dir;
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    std::filesystem::path from = dir.MakeFile("cross", std::string("x\0y", 3));
    std::filesystem::path to = std::filesystem::path("/dev/shm") / dir.Path().filename();
    EXPECT_TRUE(platform::Is(files.MoveWithoutReplace(from, to), platform::FileError::NotSameDevice));
    EXPECT_FALSE(std::filesystem::exists(to));
    ASSERT_FALSE(files.CopyToNewFile(from, to));
    EXPECT_EQ(ReadBytes(to), std::string("x\0y", 3));
    EXPECT_EQ(ReadBytes(from), std::string("x\0y", 3));
    EXPECT_TRUE(platform::Is(files.CopyToNewFile(dir.MakeFile("again"), to), platform::FileError::FileExists));
    EXPECT_EQ(ReadBytes(to), std::string("x\0y", 3));
    std::filesystem::remove(to);

    EXPECT_FALSE(files.CreateFolder(dir.Path() / "new"));
    EXPECT_TRUE(platform::IsNameTaken(files.CreateFolder(dir.Path() / "new")));
    EXPECT_TRUE(platform::Is(files.CreateFolder(dir.Path() / "no" / "new"), platform::FileError::PathNotFound));
}

// The failures the system itself gives the real operations (no double): each reaches the caller
// as its Windows number.
TEST(ReplayFiles, TheSystemsOwnFailuresReachTheCallerAsWindowsErrors)
{
    TempDir dir;
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    const std::filesystem::path missing = dir.Path() / "missing";

    platform::FileHandle handle = -1;
#if defined(_WIN32)
    EXPECT_EQ(files.CreateNewFile(missing / "new", handle).value(), 3);
#else
    EXPECT_EQ(files.CreateNewFile(missing / "new", handle).value(), 2);
#endif
    EXPECT_EQ(files.RenameReplacing(missing, dir.Path() / "other").value(), 2);
    EXPECT_EQ(files.RemoveFile(missing).value(), 2);

    // A handle already closed: writing and closing again both fail.
    ASSERT_FALSE(files.CreateNewFile(dir.Path() / "closed", handle));
    ASSERT_FALSE(files.Close(handle));
    EXPECT_TRUE(files.Write(handle, "bytes"));
    EXPECT_TRUE(files.Close(handle));
    EXPECT_EQ(ReadBytes(dir.Path() / "closed"), "");
}

// A FileError is its number in the seam's category only: errno 2 is ENOENT, 17 EEXIST (Windows'
// 17 is NotSameDevice). The lookup reports in that category too.
TEST(ReplayFiles, AFileErrorIsItsNumberInTheSeamsCategoryOnly)
{
    for (FileError which : {FileError::FileNotFound, FileError::NotSameDevice, FileError::AlreadyExists}) {
        const int number = static_cast<int>(which);
        EXPECT_TRUE(platform::Is(platform::ReplayFileError(number), which));
        EXPECT_FALSE(platform::Is(std::error_code(number, std::generic_category()), which)) << number;
        EXPECT_FALSE(platform::Is(std::error_code(number, std::system_category()), which)) << number;
    }
    EXPECT_FALSE(platform::IsNameTaken(std::error_code(183, std::system_category())));
    EXPECT_TRUE(platform::IsNameTaken(platform::ReplayFileError(FileError::FileExists)));
    // Whatever the platform, the numbers compare to the portable conditions.
    EXPECT_EQ(platform::ReplayFileError(FileError::PathNotFound), std::errc::no_such_file_or_directory);
    EXPECT_EQ(platform::ReplayFileError(FileError::AlreadyExists), std::errc::file_exists);
    EXPECT_EQ(platform::ReplayFileError(FileError::LockViolation), std::errc::resource_unavailable_try_again);
    EXPECT_NE(platform::ReplayFileError(87), std::errc::invalid_argument); // no condition of its own
    TempDir dir;
    bool found = true;
    EXPECT_TRUE(platform::Is(platform::ReplayFiles().FindExactEntry(dir.Path() / "missing", "R.replay", found),
                             FileError::FileNotFound));
}

#if !defined(_WIN32)
// POSIX's own failures, and the messages the errors give: those Windows gives the same numbers.
TEST(ReplayFiles, PosixFailuresGiveTheMessagesOfTheirWindowsNumbers)
{
    TempDir dir;
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    // A folder moved into itself (EINVAL) is tried as a hard link, which a folder cannot have.
    const std::filesystem::path folder = dir.MakeFolder("folder");
    EXPECT_TRUE(platform::Is(files.MoveWithoutReplace(folder, folder / "inside"), FileError::AccessDenied));
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    // A full disk, as /dev/full always is.
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0) << std::strerror(errno);
    std::error_code error = files.Write(full, "bytes");
    EXPECT_EQ(error.value(), 112);
    EXPECT_EQ(error.message(), "There is not enough space on the disk.");
    EXPECT_FALSE(files.Write(full, ""));
    EXPECT_TRUE(files.Close(full)) << "/dev/full cannot be flushed";

    // An errno with no Windows counterpart keeps its own text.
    error = files.Close(full);
    EXPECT_EQ(error.value(), 0x20000000 | EBADF);
    EXPECT_EQ(error.message(), std::strerror(EBADF));

    EXPECT_EQ(platform::ReplayFileError(80).message(), "The file exists.");
    EXPECT_EQ(platform::ReplayFileError(183).message(), "Cannot create a file when that file already exists.");
    EXPECT_EQ(platform::ReplayFileError(12345).message(), "Windows error 12345");
    EXPECT_STREQ(platform::ReplayFileError(5).category().name(), "windows");
}

// Only files cross file systems: a folder moved to another one stays where it was.
TEST(ReplayFiles, AFolderDoesNotMoveAcrossFileSystems)
{
    if (!std::filesystem::is_directory("/dev/shm"))
        GTEST_SKIP() << "no second file system to move to";
    TempDir dir;
    const std::filesystem::path folder = dir.MakeFolder("folder");
    const std::filesystem::path to = std::filesystem::path("/dev/shm") / dir.Path().filename();
    EXPECT_TRUE(platform::Is(platform::ReplayFiles().MoveWithoutReplace(folder, to), FileError::NotSameDevice));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_FALSE(std::filesystem::exists(to));
}
#endif


#if !defined(_WIN32) // the backup folder is put on the other volume by a symbolic link

TEST(ReplayFiles, A200WithTheBackupFolderOnAnotherVolumeCopiesItWhole)
{
    if (!std::filesystem::is_directory("/dev/shm"))
        GTEST_SKIP() << "no second file system to move to";
    PipelineFixture fixture;
    TempDir elsewhere("/dev/shm");
    std::filesystem::remove(fixture.backups);
    std::filesystem::create_directory_symlink(elsewhere.Path(), fixture.backups);
    fixture.AddReplay("R", "old bytes");
    fixture.Play("R");
    fixture.Answer(200, "new bytes");
    EXPECT_EQ(fixture.Log(), Lines{"Post result(200)"});
    EXPECT_EQ(Names(fixture.demos), Lines{"R_fixed.replay"});
    EXPECT_EQ(Names(elsewhere.Path()), Lines{"R_copy.replay"});
    EXPECT_EQ(ReadBytes(elsewhere.Path() / "R_copy.replay"), "old bytes");
}

#endif

TEST(ReplayFiles, LogTextReplacesOnlyWhatTheCodePageCannotHold)
{
#if defined(_WIN32)
    const std::filesystem::path unconvertible(L"Demos\\a\xD800"
                                              L"b\xD83D\xDE00"
                                              L"c"); // a lone surrogate
    const std::filesystem::path pair(L"\xD83D\xDE00");
#else
    const std::filesystem::path unconvertible("Demos/a\xFF"
                                              "b\xF0\x9F\x98\x80"
                                              "c"); // a stray byte
    const std::filesystem::path pair("\xF0\x9F\x98\x80");
#endif
    // A character outside the code page becomes one "?", however many units it takes.
    std::string converted;
    if (platform::CodePageTextFromPath(pair, converted))
        converted = "?";
    EXPECT_THROW(CodePageText(unconvertible), std::system_error);
    EXPECT_THAT(LogText(unconvertible), testing::EndsWith("a?b" + converted + "c"));
    EXPECT_EQ(LogText(std::filesystem::path("plain")), "plain");
}

// A reply whose file names have no form in the code page changes nothing and says so, in its
// row and in one console line. The game folder's name is the one that fails: the backup folder
// is beside the replays folder.
TEST(ReplayFiles, AReplyWhoseNamesTheCodePageCannotHoldChangesNothing)
{
#if defined(_WIN32)
    const std::filesystem::path unconvertible(L"Games\xD800\\Demos"); // a lone surrogate
    const std::string code = "(1113)"; // ERROR_NO_UNICODE_TRANSLATION
#else
    const std::filesystem::path unconvertible("Games\xFF/Demos"); // a stray byte
    const std::string code = "(84)"; // EILSEQ
#endif
    PipelineFixture fixture;
    const std::filesystem::path oldFile = fixture.AddReplay("R", "old");
    const std::string why = "its file names do not fit the file system's code page: ";
    for (int status : {200, 400}) {
        fixture.Plugin().OnRepairReply(fixture.dir.Path() / unconvertible, oldFile, "R", status, "fixed", 5,
                                       fixture.Plugin().repairs.Sent("R"));
        EXPECT_THAT(fixture.NewestOutcome(),
                    testing::AllOf(testing::StartsWith("failed: " + why), testing::EndsWith(code)));
        EXPECT_THAT(fixture.Log().back(),
                    testing::AllOf(testing::StartsWith("Repair reply for R: " + why),
                                   testing::EndsWith(code + "; nothing written")));
    }
    EXPECT_EQ(Names(fixture.demos), Lines{"R.replay"});
}

// [SECTION] Injected failures

namespace {

using testing_support::FaultyFiles;
using testing_support::FileCall;

const std::string kOldBytes = "old replay bytes";
const std::string kRepairedBytes = "repaired replay bytes, more of them";

struct FailedRepair {
    Lines log;
    Lines demos;
    Lines backups;
    std::string oldFileBytes;
    std::string backupCopyBytes;
    std::string outcome; // the settings window's row
};

enum class Layout { Plain, EarlierRepairedFile, NoBackupFolder };

// Uploads Demos/R.replay (next to an earlier R_fixed.replay, or without a backup folder, when
// asked), answers 200 while the installed FaultyFiles misbehave, and reports what is left.
FailedRepair RepairWith(Layout layout = Layout::Plain)
{
    PipelineFixture fixture;
    std::filesystem::path oldFile = fixture.AddReplay("R", kOldBytes);
    if (layout == Layout::EarlierRepairedFile)
        fixture.AddReplay("R_fixed", "earlier");
    if (layout == Layout::NoBackupFolder)
        std::filesystem::remove(fixture.backups);
    fixture.Play("R");
    fixture.Answer(200, kRepairedBytes);
    Lines log = fixture.Log();
    for (std::string& line : log) { // the repaired file's path varies; keep the rest
        std::string repaired = CodePageText(fixture.demos / "R_fixed.replay");
        if (std::size_t at = line.find(repaired); at != std::string::npos)
            line.replace(at, repaired.size(), "<repaired>");
    }
    Lines backups = std::filesystem::exists(fixture.backups) ? Names(fixture.backups) : Lines{};
    return {log, Names(fixture.demos), backups, ReadBytes(oldFile), ReadBytes(fixture.backups / "R_copy.replay"),
            fixture.NewestOutcome()};
}

// The state the mend promises after any failure past the backup move: the replay back under
// its own name, no repaired or temporary file, an empty backup folder.
void ExpectRestored(const FailedRepair& result)
{
    EXPECT_EQ(result.demos, Lines{"R.replay"});
    EXPECT_EQ(result.oldFileBytes, kOldBytes);
    EXPECT_TRUE(result.backups.empty());
}

// "Post result(200)" and one failure line; the system's wording of the error is not checked.
void ExpectLogged(const FailedRepair& result, const std::string& start, const std::string& end)
{
    ASSERT_EQ(result.log.size(), 2u);
    EXPECT_EQ(result.log[0], "Post result(200)");
    const std::string& line = result.log[1];
    EXPECT_EQ(line.rfind(start, 0), 0u) << line;
    EXPECT_TRUE(line.size() >= end.size() && line.compare(line.size() - end.size(), end.size(), end) == 0) << line;
}

} // namespace

TEST(RepairFailures, AWriteThatFailsPartWayLeavesNoShortFile)
{
    FaultyFiles files;
    files.Fail(FileCall::Write, 1, FileError::DiskFull, kRepairedBytes.size() / 2);
    FailedRepair result = RepairWith();
    ExpectLogged(result, "Failed to write repaired file <repaired>: ", "(112)");
    ExpectRestored(result);
}

TEST(RepairFailures, ARepairedFileThatCannotBeCreatedPutsTheOldFileBack)
{
    FaultyFiles files;
    files.Fail(FileCall::Create, 1, FileError::AccessDenied);
    FailedRepair result = RepairWith();
    ASSERT_EQ(result.log.size(), 3u);
    EXPECT_EQ(result.log[1], "Failed to open output path at <repaired>");
    ExpectRestored(result);
}

TEST(RepairFailures, AFailedCloseCountsAsAFailedWrite)
{
    FaultyFiles files;
    files.Fail(FileCall::Close, 1, FileError::DiskFull);
    FailedRepair result = RepairWith();
    ExpectLogged(result, "Failed to write repaired file <repaired>: ", "(112)");
    ExpectRestored(result);
}

TEST(RepairFailures, AFailedRenameKeepsTheEarlierRepairedFile)
{
    FaultyFiles files;
    files.Fail(FileCall::Rename, 2, FileError::AccessDenied); // the first marks the written file whole
    FailedRepair result = RepairWith(Layout::EarlierRepairedFile);
    EXPECT_EQ(result.log, (Lines{"Post result(200)", "Failed to open output path at <repaired>",
                                 "Repaired file refused: " + platform::ReplayFileError(FileError::AccessDenied).message()
                                     + " (5)"}));
    EXPECT_EQ(result.demos, (Lines{"R.replay", "R_fixed.replay"}));
    EXPECT_EQ(result.oldFileBytes, kOldBytes);
    EXPECT_TRUE(result.backups.empty());
}

TEST(RepairFailures, MoveFailuresAreLoggedWithTheirCode)
{
    {
        SCOPED_TRACE("move to the backup folder");
        FaultyFiles files;
        files.Fail(FileCall::Move, 2, FileError::AlreadyExists); // the first places the repaired file
        FailedRepair result = RepairWith();
        EXPECT_EQ(result.log, (Lines{"Post result(200)", "Error moving old file to backup folder: 183"}));
        ExpectRestored(result);
    }
#if !defined(_WIN32) // on Windows no writer can replace a file this reply holds open
    {
        SCOPED_TRACE("the roll-back removes only the repaired file this reply placed");
        FaultyFiles files;
        files.Fail(FileCall::Move, 2, FileError::SharingViolation);
        files.after = [](const testing_support::FileCallSeen& seen) {
            if (seen.call != FileCall::Move || seen.target.filename() != "R_fixed.replay")
                return;
            // Another writer replaces the placed file as writers do: its own file renamed over it.
            const std::filesystem::path other = seen.target.parent_path() / "another writer's";
            std::ofstream(other, std::ios::binary) << "another writer's repair";
            std::filesystem::rename(other, seen.target);
        };
        FailedRepair result = RepairWith();
        EXPECT_EQ(result.log, (Lines{"Post result(200)", "Error moving old file to backup folder: 32"}));
        EXPECT_EQ(result.demos, (Lines{"R.replay", "R_fixed.replay"}));
    }
#endif
    {
        SCOPED_TRACE("a backup folder that cannot be made");
        FaultyFiles files;
        files.Fail(FileCall::CreateFolder, 1, FileError::AccessDenied);
        FailedRepair result = RepairWith(Layout::NoBackupFolder);
        EXPECT_EQ(result.log, (Lines{"Post result(200)", "Error moving old file to backup folder: 5"}));
        ExpectRestored(result);
    }
    {
        SCOPED_TRACE("move back after a failed rename: the replay stays safe in the backup folder, and listed "
                     "under its earlier repaired file");
        FaultyFiles files;
        files.Fail(FileCall::Rename, 2, FileError::AccessDenied);
        files.Fail(FileCall::Move, 3, FileError::AccessDenied); // place (taken), to the backup folder, back
        FailedRepair result = RepairWith(Layout::EarlierRepairedFile);
        ASSERT_EQ(result.log.size(), 4u);
        EXPECT_EQ(result.log[1], "Error moving old file back from backup folder: 5");
        EXPECT_EQ(result.log[2], "Failed to open output path at <repaired>");
        EXPECT_EQ(result.demos, Lines{"R_fixed.replay"});
        EXPECT_EQ(result.backups, Lines{"R_copy.replay"});
        EXPECT_THAT(result.outcome, testing::StartsWith("failed: the repaired file could not be written: "));
        EXPECT_THAT(result.outcome, testing::EndsWith("(5); the original is in OV_Ravento_BackupReplays"));
    }
    {
        // The weaker outcome the protocol states: a move back cannot cross volumes, so the
        // original stays whole in the backup folder alone, the earlier repair listed.
        SCOPED_TRACE("move back across volumes after a failed rename over an earlier repair");
        FaultyFiles files;
        files.Fail(FileCall::Move, 2, FileError::NotSameDevice); // the backup folder is on another volume
        files.Fail(FileCall::Rename, 2, FileError::AccessDenied);
        // Moves: place (taken), to the backup folder (copied), name the copy, back.
        files.Fail(FileCall::Move, 4, FileError::NotSameDevice);
        FailedRepair result = RepairWith(Layout::EarlierRepairedFile);
        ASSERT_EQ(result.log.size(), 4u);
        EXPECT_EQ(result.log[1], "Error moving old file back from backup folder: 17");
        EXPECT_EQ(result.demos, Lines{"R_fixed.replay"});
        EXPECT_EQ(result.backups, Lines{"R_copy.replay"});
        EXPECT_EQ(result.backupCopyBytes, kOldBytes);
        EXPECT_THAT(result.outcome, testing::EndsWith("; the original is in OV_Ravento_BackupReplays"));
    }
}

TEST(RepairFailures, ACrossVolumeBackupThatFailsPartWayLeavesNoCopy)
{
    struct Case {
        const char* what;
        std::optional<FileError> copyError;
        int failMoveNumber; // the third move names the finished copy
        int failRemoveNumber; // the second removal takes the old file away (the first, settling's lock)
        std::string expected;
    };
    const Case cases[] = {
        {"the copy fails", FileError::DiskFull, 0, 0, "Error moving old file to backup folder: 112"},
        {"naming the copy fails", std::nullopt, 3, 0, "Error moving old file to backup folder: 183"},
        {"the old file cannot be removed", std::nullopt, 0, 2, "Error moving old file to backup folder: 32"},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.what);
        FaultyFiles files;
        files.Fail(FileCall::Move, 2, FileError::NotSameDevice); // the backup folder is on another volume
        if (check.copyError)
            files.Fail(FileCall::Copy, 1, *check.copyError);
        files.Fail(FileCall::Move, check.failMoveNumber, FileError::AlreadyExists);
        files.Fail(FileCall::Remove, check.failRemoveNumber, FileError::SharingViolation);
        FailedRepair result = RepairWith();
        EXPECT_EQ(result.log, (Lines{"Post result(200)", check.expected}));
        ExpectRestored(result);
    }
    {
        SCOPED_TRACE("nothing fails");
        FaultyFiles files;
        files.Fail(FileCall::Move, 2, FileError::NotSameDevice);
        FailedRepair result = RepairWith();
        EXPECT_EQ(result.log, Lines{"Post result(200)"});
        EXPECT_EQ(result.demos, Lines{"R_fixed.replay"});
        EXPECT_EQ(result.backups, Lines{"R_copy.replay"});
    }
}

TEST(RepairFailures, AnErrorThrownAfterTheBackupMoveStillBringsTheOldFileBack)
{
    FaultyFiles files;
    files.before = [](const testing_support::FileCallSeen& seen) -> std::error_code {
        if (seen.call == FileCall::Rename && seen.number == 2)
            throw std::runtime_error("thrown after the backup move");
        return {};
    };
    FailedRepair result = RepairWith(Layout::EarlierRepairedFile);
    EXPECT_EQ(result.log, (Lines{"Post result(200)", "OnRepairReply failed: thrown after the backup move"}));
    EXPECT_EQ(result.demos, (Lines{"R.replay", "R_fixed.replay"}));
    EXPECT_EQ(result.oldFileBytes, kOldBytes);
    EXPECT_TRUE(result.backups.empty());
}
