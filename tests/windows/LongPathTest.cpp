// Replays whose paths reach MAX_PATH. Windows refuses such paths to a process that does not
// declare long-path awareness (and the host's process is not ours to declare), while Wine
// accepts them. The file operations below therefore answer as Windows does: a path whose full
// form has MAX_PATH characters or more fails with ERROR_FILENAME_EXCED_RANGE. Whatever such a
// refusal hits, the replay stays where it was and the failure is logged.
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Ravento.h"
#include "pipeline/PipelineFixture.h"
#include "platform/ReplayFiles.h"
#include "support/CodePageText.h"
#include "support/FaultyFiles.h"

namespace {

using testing_support::CodePageText;
using testing_support::FileCall;
using testing_support::FileCallSeen;
using testing_support::Names;
using testing_support::PipelineFixture;
using testing_support::ReadBytes;
using Lines = std::vector<std::string>;

// The platform's own calls, with the path limit of a process without long-path awareness.
class WithoutLongPathAwareness {
public:
    WithoutLongPathAwareness()
    {
        files.before = [](const FileCallSeen& seen) {
            const bool limited =
                seen.call == FileCall::Move || seen.call == FileCall::Create || seen.call == FileCall::Rename;
            const bool tooLong = limited && (TooLong(seen.file) || (!seen.target.empty() && TooLong(seen.target)));
            return tooLong ? platform::ReplayFileError(ERROR_FILENAME_EXCED_RANGE) : std::error_code();
        };
    }

    static bool TooLong(const std::filesystem::path& path)
    {
        return std::filesystem::absolute(path).lexically_normal().native().size() >= MAX_PATH;
    }

private:
    testing_support::FaultyFiles files;
};

const std::string kOldBytes = "old replay bytes";

// An identifier that makes folder/<id>.replay exactly length characters long.
std::string IdForReplayPathOf(const std::filesystem::path& folder, std::size_t length)
{
    const std::size_t taken = folder.native().size() + 1 + std::string(".replay").size();
    EXPECT_LT(taken, length) << "the temporary folder is too deep for this test";
    return std::string(length - taken, 'L');
}

TEST(LongPaths, ABackupCopyPastTheLimitIsLoggedAndTheReplayStays)
{
    WithoutLongPathAwareness files;
    PipelineFixture fixture;
    // The replay itself is within the limit; its backup copy, 24 characters longer, is not.
    const std::string id = IdForReplayPathOf(fixture.demos, MAX_PATH - 10);
    const std::filesystem::path oldFile = fixture.AddReplay(id, kOldBytes);
    ASSERT_FALSE(WithoutLongPathAwareness::TooLong(oldFile));

    fixture.Play(id);
    ASSERT_EQ(fixture.Recorder().Requests().size(), 1u) << "a replay within the limit is uploaded";
    fixture.Answer(200, "repaired");

    EXPECT_EQ(fixture.Log(), (Lines{"Post result(200)", "Error moving old file to backup folder: 206"}));
    EXPECT_EQ(Names(fixture.demos), Lines{id + ".replay"});
    EXPECT_EQ(ReadBytes(oldFile), kOldBytes);
    EXPECT_TRUE(Names(fixture.backups).empty());
}

TEST(LongPaths, ARepairedFilePastTheLimitIsLoggedAndTheReplayStays)
{
    WithoutLongPathAwareness files;
    PipelineFixture fixture;
    // A replays folder with a long name of its own: the backup copy's path is shorter than the
    // replay's, the repaired file's ("_fixed") longer and past the limit. The temporary file,
    // whose name is short, is written; putting it in place is refused, and nothing moves.
    const std::filesystem::path demos = fixture.dir.MakeFolder("TAGame/" + std::string(40, 'D'));
    fixture.Plugin().demosFolder.Set(demos);
    const std::string id = IdForReplayPathOf(demos, MAX_PATH - 4);
    const std::filesystem::path oldFile = fixture.dir.MakeFile(demos / (id + ".replay"), kOldBytes);

    fixture.Play(id);
    ASSERT_EQ(fixture.Recorder().Requests().size(), 1u);
    fixture.Answer(200, "repaired");

    const Lines log = fixture.Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "Post result(200)");
    EXPECT_EQ(log[1], "Failed to open output path at " + CodePageText(demos / (id + "_fixed.replay")));
    EXPECT_EQ(log[2].rfind("Repaired file refused: ", 0), 0u) << log[2];
    EXPECT_EQ(Names(demos), Lines{id + ".replay"});
    EXPECT_EQ(ReadBytes(oldFile), kOldBytes);
    EXPECT_TRUE(Names(fixture.backups).empty());
}

} // namespace
