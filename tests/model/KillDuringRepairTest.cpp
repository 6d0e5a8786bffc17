// A real kill -9 in the middle of a large repair: a child process runs the plugin and handles a
// 200 of tens of megabytes, the parent kills it at moments spread over the write (by how much of
// the temporary file is there), the flush and the renames, then checks the replay is still there
// and the next load leaves no temporary file.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ReplayReplacement.h"
#include "orvane/host/RecordingTransport.h"
#include "pipeline/PipelineFixture.h"
#include "support/PluginHost.h"
#include "support/ReliabilityLog.h"
#include "support/ReplayGuarantee.h"
#include "support/TempDir.h"

using namespace plugin;

namespace {

using testing_support::BrokenGuarantee;
using testing_support::PluginHost;
using testing_support::ReadBytes;
using testing_support::StrayFile;
using testing_support::TempDir;

constexpr std::size_t kBodySize = std::size_t{40} << 20;
constexpr char kDate[] = "2025-06-01";

std::string LargeBody()
{
    std::string body(kBodySize, '\0');
    std::uint32_t state = 12345;
    for (char& byte : body) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return body;
}

struct Answerer {
    PluginHost host;
    devhost::RecordingTransport& recorder;
};

// A loaded plugin on demos whose requests the returned transport answers.
std::unique_ptr<Answerer> LoadOn(const std::filesystem::path& demos)
{
    auto transport = std::make_unique<devhost::RecordingTransport>();
    devhost::RecordingTransport& recorder = *transport;
    devhost::HostOptions options;
    options.transport = std::move(transport);
    options.hostLog = [](const std::string&) {};
    auto loaded = std::unique_ptr<Answerer>(new Answerer{PluginHost(std::move(options)), recorder});
    loaded->host.Plugin().demosFolder.Set(demos);
    return loaded;
}

// The child: uploads R, says it is about to answer, and handles the large 200 until killed.
[[noreturn]] void RepairInChild(const std::filesystem::path& demos, const std::string& body, int readyFd)
{
    std::unique_ptr<Answerer> child = LoadOn(demos);
    child->host.Host().PlayReplay("R", kDate);
    if (::write(readyFd, "r", 1) != 1)
        ::_exit(2);
    child->recorder.AnswerNext(200, body);
    child->host.Host().Settle(std::chrono::seconds(120));
    ::_exit(0);
}

// The size of the temporary file in folder, or -1 when there is none.
std::intmax_t TemporaryFileSize(const std::filesystem::path& folder)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (IsTemporaryName(entry.path().filename())) {
            std::uintmax_t size = std::filesystem::file_size(entry.path(), error);
            return error ? 0 : static_cast<std::intmax_t>(size);
        }
    }
    return -1;
}

bool HasTemporaryFile(const std::filesystem::path& folder)
{
    return TemporaryFileSize(folder) >= 0;
}

// When to kill: once the temporary file holds this share of the body, then after a delay (the
// flush and the two renames come after the last byte).
struct KillMoment {
    double writtenShare;
    int delayMicroseconds;
};

void WaitFor(const KillMoment& moment, const std::filesystem::path& demos)
{
    const auto threshold = static_cast<std::intmax_t>(moment.writtenShare * static_cast<double>(kBodySize));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (TemporaryFileSize(demos) < threshold && std::chrono::steady_clock::now() < deadline
           && !std::filesystem::exists(demos / "R_fixed.replay"))
        ::usleep(50);
    ::usleep(static_cast<useconds_t>(moment.delayMicroseconds));
}

struct Round {
    std::unique_ptr<TempDir> dir = std::make_unique<TempDir>();
    std::filesystem::path demos = dir->MakeFolder("TAGame/Demos");
    std::filesystem::path backups = dir->MakeFolder("TAGame/OV_Ravento_BackupReplays");
    std::string original;
    bool killedPartWay = false; // a temporary file was there when the child died
};

} // namespace

TEST(KillDuringRepair, TheReplayStaysAndTheNextLoadLeavesNoTemporaryFile)
{
    const std::string body = LargeBody();
    const KillMoment moments[] = {{0.0, 0}, {0.0, 0},   {0.1, 0},    {0.3, 0},    {0.5, 0},     {0.9, 0},
                                  {1.0, 0}, {1.0, 200}, {1.0, 1000}, {1.0, 5000}, {1.0, 20000}, {1.0, 100000}};

    // Every child is forked before this process starts a host thread of its own.
    std::vector<Round> rounds;
    for (const KillMoment& moment : moments) {
        Round& round = rounds.emplace_back();
        round.original = "original replay " + std::to_string(rounds.size());
        round.dir->MakeFile("TAGame/Demos/R.replay", round.original);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            RepairInChild(round.demos, body, ready[1]);
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        WaitFor(moment, round.demos);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(ready[0]);
        ::close(ready[1]);
        round.killedPartWay = HasTemporaryFile(round.demos);
    }

    int partWay = 0, repaired = 0;
    for (const Round& round : rounds) {
        SCOPED_TRACE(round.dir->Path().string());
        partWay += round.killedPartWay;
        // The next load: its first answer settles what the kill left.
        {
            std::unique_ptr<Answerer> next = LoadOn(round.demos);
            round.dir->MakeFile("TAGame/Demos/S.replay", "another replay");
            next->host.Host().PlayReplay("S", kDate);
            ASSERT_TRUE(next->recorder.AnswerNext(500));
            ASSERT_TRUE(next->host.Host().Settle(std::chrono::seconds(30)));
        }
        EXPECT_EQ(BrokenGuarantee({{round.demos}, round.backups, "R", round.original, {body}}), "");
        EXPECT_EQ(StrayFile(round.demos, round.backups, {"R", "S"}, true), "");
        repaired += ReadBytes(round.demos / "R_fixed.replay") == body;
    }
    EXPECT_GT(partWay, 0) << "no kill landed while the repaired bytes were being written";
    ReportReliability("kill-test",
                      fmt::format("rounds={} killed-mid-write={} repaired-before-kill-or-settled={}", rounds.size(),
                                  partWay, repaired));
}

TEST(KillDuringRepair, AKillDuringACrossVolumeBackupLeavesNothingThatLooksLikeABackup)
{
    if (!std::filesystem::is_directory("/dev/shm"))
        GTEST_SKIP() << "no second file system for the backup folder";
    const std::string original = LargeBody(); // the old file is the large one: its copy is cut
    const double shares[] = {0.0, 0.2, 0.5, 0.8, 1.0, 1.0};

    std::vector<Round> rounds;
    std::vector<std::unique_ptr<TempDir>> backupVolumes;
    int partWay = 0;
    for (double share : shares) {
        Round& round = rounds.emplace_back();
        round.original = original;
        round.dir->MakeFile("TAGame/Demos/R.replay", original);
        const TempDir& volume = *backupVolumes.emplace_back(std::make_unique<TempDir>("/dev/shm"));
        std::filesystem::remove(round.backups);
        std::filesystem::create_directory_symlink(volume.Path(), round.backups);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            RepairInChild(round.demos, "repaired", ready[1]);
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        const auto threshold = static_cast<std::intmax_t>(share * static_cast<double>(original.size()));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (TemporaryFileSize(volume.Path()) < threshold && std::chrono::steady_clock::now() < deadline
               && !std::filesystem::exists(volume.Path() / "R_copy.replay"))
            ::usleep(50);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(ready[0]);
        ::close(ready[1]);
        partWay += HasTemporaryFile(volume.Path());
        // Whatever the moment, a file under the backup copy's name is the whole old file.
        EXPECT_EQ(BrokenGuarantee({{round.demos}, round.backups, "R", original, {"repaired"}}), "") << "at the kill";
    }
    for (Round& round : rounds) {
        {
            std::unique_ptr<Answerer> next = LoadOn(round.demos);
            round.dir->MakeFile("TAGame/Demos/S.replay", "another replay");
            next->host.Host().PlayReplay("S", kDate);
            ASSERT_TRUE(next->recorder.AnswerNext(500));
            ASSERT_TRUE(next->host.Host().Settle(std::chrono::seconds(30)));
        }
        EXPECT_EQ(BrokenGuarantee({{round.demos}, round.backups, "R", original, {"repaired"}}), "");
        EXPECT_EQ(StrayFile(round.demos, round.backups, {"R", "S"}, true), "") << "a copy cut short stayed";
    }
    EXPECT_GT(partWay, 0) << "no kill landed while the old file was being copied";
    ReportReliability("kill-test-cross-volume", fmt::format("rounds={} killed-mid-copy={}", rounds.size(), partWay));
}
