// Which plays send an upload, and what the upload names.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "FileSystem.h"
#include "pipeline/PipelineFixture.h"
#include "support/CodePageText.h"

using namespace plugin;

using testing_support::CodePageText;
using testing_support::PipelineFixture;

namespace {

std::size_t RequestCount(PipelineFixture& fixture)
{
    return fixture.Recorder().Requests().size();
}

// The file the last request uploads.
std::string LastUploadedPath(PipelineFixture& fixture)
{
    std::vector<CurlRequest> requests = fixture.Recorder().Requests();
    if (requests.empty() || requests.back().formFields.size() != 1)
        return "<no single-part request>";
    return requests.back().formFields[0].data;
}

} // namespace

TEST(PlayReplay, OnlyReplaysOf2025OutsideTheEarlyWindowAreSent)
{
    PipelineFixture fixture;
    fixture.AddReplay("R");
    struct Case {
        const char* date;
        bool sent;
    };
    const Case cases[] = {
        {"2025-04-23 10:00", false},
        {"2025-04-24 10:00", true},
        {"2025-05-01", true},
        {"2025-01-30", true},
        {"2025-03-10", false},
        {"2025-12-01", true},
        {"2024-06-01", false},
        {"2026-06-01", false},
        {"Replay of 2025-06-01", false},
        {"", false},
        {"2025-5-1", true},
        {"20250601", false},
        {"2025-06", true}, // the day stays 0; the month alone passes
    };
    for (const Case& check : cases) {
        std::size_t before = RequestCount(fixture);
        fixture.Play("R", check.date);
        EXPECT_EQ(RequestCount(fixture) - before, check.sent ? 1u : 0u) << "date \"" << check.date << "\"";
    }
    EXPECT_TRUE(fixture.Log().empty());
}

TEST(PlayReplay, IdentifiersCarryingFixedAreNeverSent)
{
    PipelineFixture fixture;
    for (const char* id : {"R_fixed", "abc_fixed_def", "_fixed"})
        fixture.AddReplay(id);
    fixture.AddReplay("Q_FIXED");
    for (const char* id : {"R_fixed", "abc_fixed_def", "_fixed"})
        fixture.Play(id);
    EXPECT_EQ(RequestCount(fixture), 0u);

    fixture.Play("Q_FIXED"); // the check is case-sensitive
    EXPECT_EQ(RequestCount(fixture), 1u);
}

TEST(PlayReplay, TheRequestUploadsTheReplayFileToTheRepairService)
{
    PipelineFixture fixture;
    fixture.AddReplay("R");
    fixture.Plugin().rateLimitHit = true; // a pending rate limit does not hold uploads back
    fixture.Play("R");
    fixture.Play("R");

    std::vector<CurlRequest> requests = fixture.Recorder().Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const CurlRequest& request : requests) {
        EXPECT_EQ(request.url, "https://" RAVENTO_SERVICE_HOST "/api/ravento");
        EXPECT_TRUE(request.verb.empty());
        EXPECT_TRUE(request.headers.empty());
        EXPECT_TRUE(request.body.empty());
        EXPECT_FALSE(request.auxCallback);
        ASSERT_EQ(request.formFields.size(), 1u);
        EXPECT_EQ(request.formFields[0].kind, FormField::kFile);
        EXPECT_EQ(request.formFields[0].data, CodePageText(fixture.demos / "R.replay"));
        EXPECT_EQ(request.formFields[0].name, "file");
    }
    EXPECT_EQ(fixture.Recorder().PendingCount(), 2u); // each with its own reply callable
}

TEST(PlayReplay, LookupMatchesTheExactNameOnly)
{
    PipelineFixture fixture;
    fixture.dir.MakeFile("TAGame/Demos/abc.replay");
    fixture.Play("ABC");
    fixture.Play("abc.REPLAY");
    fixture.Play("ab");
    EXPECT_EQ(RequestCount(fixture), 0u);

    fixture.AddReplay("R");
    fixture.AddReplay("R_fixed");
    fixture.Play("R");
    EXPECT_EQ(LastUploadedPath(fixture), CodePageText(fixture.demos / "R.replay"));

    fixture.AddReplay("");
    fixture.Play("");
    EXPECT_EQ(LastUploadedPath(fixture), CodePageText(fixture.demos / ".replay"));
    EXPECT_EQ(RequestCount(fixture), 2u);
}

TEST(PlayReplay, OnlyRegularFilesAreSent)
{
    PipelineFixture fixture;
    fixture.dir.MakeFolder("TAGame/Demos/S.replay");
    fixture.Play("S");
#if !defined(_WIN32)
    // A FIFO would block the host's reader until a writer came, and a socket could never be read.
    ASSERT_EQ(::mkfifo((fixture.demos / "F.replay").c_str(), 0600), 0);
    fixture.Play("F");
#endif
    EXPECT_EQ(RequestCount(fixture), 0u);
    EXPECT_TRUE(fixture.Log().empty());
}

TEST(PlayReplay, IdentifiersThatAreNoSingleNameReachNothing)
{
    PipelineFixture fixture;
    fixture.AddReplay("R");
    fixture.dir.MakeFile("TAGame/Demos/sub/R.replay");
    fixture.dir.MakeFile("TAGame/Elsewhere/R.replay");
    fixture.dir.MakeFile("TAGame/Demos/a.replay");
    const std::string hostile[] = {
        "sub/R",
        "sub\\R",
        "../Elsewhere/R",
        "..\\Elsewhere\\R",
        std::string("R.replay\0", 9),
        std::string("R\0", 2),
        "?",
        "*",
        "a?",
        "R:stream",
        CodePageText(fixture.demos / "R"),
        std::string(300, 'R'), // longer than any entry name can be
        "R\xFF", // no character of UTF-8 (POSIX's code page), so no file's name
    };
    for (const std::string& id : hostile)
        fixture.Play(id);
    EXPECT_EQ(RequestCount(fixture), 0u);
    EXPECT_TRUE(fixture.Log().empty());
}

TEST(PlayReplay, AnEventWithoutAReplaySendsNothing)
{
    PipelineFixture fixture;
    fixture.AddReplay("R");
    fixture.Host().FireEvent(devhost::kPlayReplayEvent, 0); // a parameter block naming no replay
    fixture.Plugin().OnPlayReplay(ActorWrapper(0), nullptr, devhost::kPlayReplayEvent);
    EXPECT_EQ(RequestCount(fixture), 0u);
    EXPECT_TRUE(fixture.Log().empty());

    fixture.Play("R");
    EXPECT_EQ(RequestCount(fixture), 1u) << "the hook still works";
}

TEST(PlayReplay, AFolderThatCannotBeLookedIntoIsLoggedOnce)
{
    PipelineFixture fixture;
    fixture.AddReplay("R");
    const std::filesystem::path folders[] = {
        {},
        fixture.dir.Path() / "TAGame" / "Missing",
        fixture.dir.MakeFile("TAGame/NotAFolder"),
    };
    std::size_t logged = 0;
    for (const std::filesystem::path& folder : folders) {
        fixture.Plugin().demosFolder.Set(folder);
        fixture.Play("R");
        std::vector<std::string> log = fixture.Log();
        ASSERT_EQ(log.size(), ++logged) << folder;
        const std::string step = folder.empty() ? "replay lookup: " : "replay lookup " + CodePageText(folder) + ": ";
        EXPECT_EQ(log.back().rfind("OnPlayReplay failed: " + step, 0), 0u) << log.back();
    }
    EXPECT_EQ(RequestCount(fixture), 0u);

#if !defined(_WIN32)
    // A folder whose name the code page cannot hold: the host could not open the file it names.
    const std::filesystem::path unreadable = fixture.dir.MakeFolder("TAGame/Demos\xFF");
    fixture.dir.MakeFile("TAGame/Demos\xFF/R.replay");
    fixture.Plugin().demosFolder.Set(unreadable);
    fixture.Play("R");
    const std::string line = "OnPlayReplay failed: code page conversion " + LogText(unreadable / "R.replay") + ": ";
    EXPECT_EQ(fixture.Log().back().rfind(line, 0), 0u) << fixture.Log().back();
    EXPECT_EQ(RequestCount(fixture), 0u);
#endif
}
