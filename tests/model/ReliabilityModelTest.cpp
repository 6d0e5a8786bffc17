// Long random runs of the real plugin (plays, answers of every kind, folder changes through the
// panel) with faults injected through the file seam and crashes at every step of a repair,
// checking after each step what a player relies on: no replay is ever lost or unlisted, a
// repaired file is exactly what the service sent, nothing outside the replays and backup
// folders is touched, and no exception reaches the host.
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <imgui.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ReplayReplacement.h"
#include "pipeline/PipelineFixture.h"
#include "support/DocumentsSandbox.h"
#include "support/FaultyFiles.h"
#include "support/ReliabilityLog.h"
#include "support/ReplayGuarantee.h"

using namespace plugin;

namespace model_test {
namespace {

using platform::FileError;
using testing_support::BrokenGuarantee;
using testing_support::DocumentsSandbox;
using testing_support::FaultyFiles;
using testing_support::FileCall;
using testing_support::Holds;
using testing_support::PipelineFixture;
using testing_support::ReadBytes;

// Fewer under Wine, where every file operation costs far more.
#if defined(_WIN32)
constexpr int kSeedCount = 8;
constexpr int kStepsPerSeed = 150;
constexpr std::size_t kHugeBody = std::size_t{1} << 20;
#else
constexpr int kSeedCount = 20;
constexpr int kStepsPerSeed = 300;
constexpr std::size_t kHugeBody = std::size_t{2} << 20;
#endif
constexpr std::uint32_t kSeeds[20] = {1,     7,     42,    99,    1234,  2025,  31337, 4242,  65535, 8675309,
                                      11111, 22222, 33333, 44444, 55555, 66666, 77777, 88888, 99999, 123456};
// The faults a reply may meet, each one call of the file layer that fails.
enum class Fault {
    None,
    CreateDenied, // the temporary file cannot be created
    DiskFullMidWrite, // half the bytes are written
    FlushFails, // the close flushes and closes, then reports the failure
    MoveDenied, // the first move of the reply is refused
    FileLocked, // the first move of the reply finds the file in use
    MarkWholeDenied, // the rename that marks the written file whole is refused
    RenameDenied, // the rename into place is refused
    OtherVolume, // the backup folder is on another volume: the old file's move must copy
    BackupFolderDenied, // a missing backup folder cannot be made
};
constexpr int kFaultKinds = 10;

struct FailingCall {
    FileCall call;
    int number;
    FileError error;
};
// Indexed by Fault, None excepted. The second move of a 200 takes the old file to the backup
// folder, whichever order.
constexpr FailingCall kFailingCalls[kFaultKinds] = {
    {FileCall::AnyChange, 0, FileError::AccessDenied}, {FileCall::Create, 1, FileError::AccessDenied},
    {FileCall::Write, 1, FileError::DiskFull},         {FileCall::Close, 1, FileError::DiskFull},
    {FileCall::Move, 1, FileError::AccessDenied},      {FileCall::Move, 1, FileError::SharingViolation},
    {FileCall::Rename, 1, FileError::AccessDenied},    {FileCall::Rename, 2, FileError::AccessDenied},
    {FileCall::Move, 2, FileError::NotSameDevice},     {FileCall::CreateFolder, 1, FileError::AccessDenied},
};

// Plans the next reply: a fault, or a crash after crashAfter changes (negative: none).
void Plan(FaultyFiles& files, Fault fault, int crashAfter)
{
    files.Reset();
    if (fault != Fault::None) {
        const FailingCall& failing = kFailingCalls[static_cast<int>(fault)];
        files.Fail(failing.call, failing.number, failing.error, FaultyFiles::kHalfTheBytes);
    }
    if (crashAfter >= 0)
        files.CrashAfter(crashAfter);
}

// Steps of a 200 answer through the seam, at most: make the backup folder, create, write, flush
// and close, mark whole, put in place, move the old file (refused: another volume), copy it,
// name the copy, remove the old file.
constexpr int kRepairSteps = 10;

struct Totals {
    int seeds = 0;
    int steps = 0;
    int crashes = 0;
    int faults = 0;
    int plays = 0;
    int replies = 0;
    int repairs = 0; // 200 answers that had to repair, and did
    int renames = 0; // 400 answers that had to rename, and did
};

struct Replay {
    std::string id;
    std::string original;
    std::set<std::string> sentBodies; // every body a 200 for it carried
};

// What the panel's entry holds; it lives as long as the module, across loads and seeds.
std::string panelText;

std::string Utf8(const std::filesystem::path& path)
{
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

class Model {
    struct Upload {
        std::string id;
        std::filesystem::path folder; // the replays folder when it was sent
    };

public:
    Model(std::uint32_t seed, Totals& totals) : random(seed), totals(totals)
    {
        replaysFolders = {world.demos, world.dir.MakeFolder("TAGame/DemosB")};
        world.dir.MakeFile("outside.txt", "not the plugin's");
        world.dir.MakeFile("TAGame/TAGame.ini", "settings");
        outsideBefore = Outside();
        for (int i = 0; i < 3; ++i)
            AddReplay();
    }

    void Run(int steps)
    {
        for (int step = 0; step < steps && !testing::Test::HasFatalFailure(); ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            Step();
            CheckInvariants();
            ++totals.steps;
        }
        // Code that does nothing loses nothing: every seed must also repair (and the whole run
        // rename: a 400 that must rename is rarer than a short seed).
        EXPECT_GT(repairs, 0) << "no 200 repaired a replay";
    }

private:
    // [SECTION] Actions

    void Step()
    {
        const int roll = Below(100);
        if (roll < 15)
            AddReplay();
        else if (roll < 45)
            Play();
        else if (roll < 92)
            Answer();
        else
            ChangeFolderThroughPanel();
    }

    std::string AddReplay()
    {
        const std::string id = NewId();
        std::string bytes = RandomBytes(Below(4) == 0 ? 0 : 1 + Below(3000));
        world.dir.MakeFile(std::filesystem::relative(current / (id + ".replay"), world.dir.Path()), bytes);
        replays[id] = {id, bytes, {}};
        return id;
    }

    void Play()
    {
        if (replays.empty())
            return;
        auto it = replays.begin();
        std::advance(it, Below(static_cast<int>(replays.size())));
        const std::size_t before = world.Recorder().Requests().size();
        world.Play(it->first);
        ++totals.plays;
        if (world.Recorder().Requests().size() > before)
            pending.push_back({it->first, current});
    }

    void Answer()
    {
        if (pending.empty())
            return Play();
        const Upload upload = pending.front();
        pending.pop_front();
        int status = 0;
        std::string body;
        PickAnswer(status, body);
        if (status == 200)
            replays[upload.id].sentBodies.insert(body);

        // A reply acts on the folder its replay was found in. A crash there, once the player has
        // chosen another folder, leaves its leftovers until a later load answers a replay of that
        // folder; the model crashes replies in the current folder, which the reload settles (one
        // in six, so that Wine's shorter run still reaches every crash point).
        const bool crash = status == 200 && upload.folder == current && Below(6) == 0;
        const int crashAfter = crash ? totals.crashes % (kRepairSteps + 1) : -1;
        Fault fault = Fault::None;
        if (crash)
            fault = Below(3) == 0 ? Fault::OtherVolume : Fault::None;
        else if (Below(3) == 0)
            fault = static_cast<Fault>(1 + Below(kFaultKinds - 2)); // all but BackupFolderDenied
        std::filesystem::path vanished = crash || fault != Fault::None ? std::filesystem::path() : MaybeVanish();
        if (vanished == world.backups)
            fault = Fault::BackupFolderDenied; // else the plugin makes a new one, as it should
        Plan(files, fault, crashAfter);
        const Expected expected =
            crash || !vanished.empty() ? Expected::Nothing : ExpectedOutcome(upload, status, body, fault);

        world.Answer(status, body);
        ++totals.replies;
        if (!vanished.empty())
            std::filesystem::rename(world.dir.Path() / "vanished", vanished);
        totals.faults += *files.FailedCall() != '\0' || !vanished.empty();
        CheckProgress(expected, upload.id, body);
        if (crash) {
            ++totals.crashes;
            RestartAfterCrash();
        }
    }

    // What an answer must do when nothing was made to fail: the Nothing case only promises
    // safety, which CheckInvariants covers.
    enum class Expected { Nothing, Repaired, Renamed };

    Expected ExpectedOutcome(const Upload& upload, int status, const std::string& body, Fault fault) const
    {
        const std::filesystem::path old = current / (upload.id + ".replay");
        const bool untouched = upload.folder == current && std::filesystem::exists(old)
            && !std::filesystem::exists(current / (upload.id + "_fixed.replay"));
        if (status == 200 && !body.empty() && (fault == Fault::None || fault == Fault::OtherVolume) && upload.folder == current
            && std::filesystem::exists(old) && !std::filesystem::exists(world.backups / (upload.id + "_copy.replay")))
            return Expected::Repaired;
        if (status == 400 && fault == Fault::None && untouched)
            return Expected::Renamed;
        return Expected::Nothing;
    }

    void CheckProgress(Expected expected, const std::string& id, const std::string& body)
    {
        const std::string& original = replays[id].original;
        const std::filesystem::path fixed = current / (id + "_fixed.replay");
        if (expected == Expected::Repaired) {
            EXPECT_TRUE(Holds(fixed, body)) << id << ": a 200 did not put the repaired bytes in place";
            EXPECT_TRUE(Holds(world.backups / (id + "_copy.replay"), original)) << id << ": no backup copy";
            EXPECT_FALSE(std::filesystem::exists(current / (id + ".replay"))) << id << ": the old file stayed";
            ++repairs;
            ++totals.repairs;
        }
        if (expected == Expected::Renamed) {
            EXPECT_TRUE(Holds(fixed, original)) << id << ": a 400 did not give the old file the repaired name";
            EXPECT_FALSE(std::filesystem::exists(current / (id + ".replay"))) << id;
            ++totals.renames;
        }
    }

    void PickAnswer(int& status, std::string& body)
    {
        switch (Below(10)) {
        case 0:
            status = 400;
            body = "cannot repair";
            break;
        case 1:
            status = 429;
            break;
        case 2:
            status = 500;
            body = "internal error";
            break;
        case 3:
            status = 0;
            break; // the transfer failed
        case 4:
            status = 0;
            body = RandomBytes(100);
            break; // cut short: the host reports 0
        case 5:
            status = 200;
            body = RandomBytes(Below(3) == 0 ? kHugeBody : 0);
            break;
        default:
            status = 200;
            body = RandomBytes(1 + Below(5000));
            break;
        }
    }

    // The backup or the replays folder goes away between the upload and the answer.
    std::filesystem::path MaybeVanish()
    {
        const int roll = Below(24);
        std::filesystem::path folder = roll == 0 ? world.backups : roll == 1 ? current : std::filesystem::path();
        if (!folder.empty())
            std::filesystem::rename(folder, world.dir.Path() / "vanished");
        return folder;
    }

    // The process died part way through a 200 answer: a fresh plugin load in the same folders,
    // the folder set again, and the first answer of the load settles what the crash left.
    void RestartAfterCrash()
    {
        CheckReplaysKept();
        world.Reload();
        files.Reset();
        pending.clear();
        EXPECT_TRUE(panelKnowsFolder ? SetFolderThroughPanel(current) : SetFolderByVariable(current));
        CheckReplaysKept();

        auto playable = std::find_if(replays.begin(), replays.end(), [&](const auto& replay) {
            return std::filesystem::exists(current / (replay.first + ".replay"));
        });
        world.Play(playable == replays.end() ? AddReplay() : playable->first);
        ++totals.plays;
        world.Answer(500, "busy");
        ++totals.replies;
        CheckNoTemporaryFiles("left after a reload");
    }

    void ChangeFolderThroughPanel()
    {
        const std::filesystem::path target = replaysFolders[Below(2)];
        if (Below(6) == 0)
            SetFolderThroughPanel(target.parent_path() / "NoSuchFolder", false);
        else if (SetFolderThroughPanel(target))
            current = target;
    }

    // [SECTION] Folder settings

    bool SetFolderByVariable(const std::filesystem::path& folder)
    {
        world.Plugin().cvarManager->getCvar(kDemosFolderVariable).setValue(Utf8(folder));
        world.Host().Advance(1.0);
        return world.Plugin().demosFolder.Get() == folder;
    }

    // Edits the entry from what it holds to the folder's text and clicks "Check". A rate-limit
    // notice hides the entry; then nothing is typed and false comes back.
    bool SetFolderThroughPanel(const std::filesystem::path& folder, bool valid = true)
    {
        world.Host().Advance(1.0); // discovery runs first on a fresh load
        if (world.Plugin().rateLimitHit)
            return false;
        if (!world.Host().IsWindowOpen())
            world.Host().ExecuteCommand("togglemenu Ravento");
        world.Host().RunFrames(3); // a window just opened sizes itself over its first frames
        const std::string target = Utf8(folder);
        std::size_t keep = 0;
        while (keep < panelText.size() && keep < target.size() && panelText[keep] == target[keep])
            ++keep;
        if (!world.Host().TypeText(""))
            return false;
        for (std::size_t i = keep; i < panelText.size(); ++i) { // folder names here are ASCII
            world.Host().QueueKey(ImGuiKey_Backspace, true);
            world.Host().QueueKey(ImGuiKey_Backspace, false);
        }
        world.Host().RunFrames(static_cast<int>(2 * (panelText.size() - keep) + 1));
        EXPECT_TRUE(world.Host().TypeText(target.substr(keep)));
        panelText = target;
        EXPECT_TRUE(world.Host().Click("Check"));
        world.Host().RunGameWork();
        world.Host().RunGameWork();
        const bool changed = world.Plugin().demosFolder.Get() == folder;
        EXPECT_EQ(changed, valid) << "the panel did not take " << target;
        panelKnowsFolder = true;
        return changed;
    }

    // [SECTION] Checks

    std::vector<std::filesystem::path> TemporaryFileFolders() const
    {
        std::vector<std::filesystem::path> folders = replaysFolders;
        folders.push_back(world.backups);
        return folders;
    }

    void CheckInvariants()
    {
        CheckReplaysKept();
        CheckNoTemporaryFiles("left behind");
        EXPECT_EQ(Outside(), outsideBefore) << "something outside the replays and backup folders changed";
        for (const std::string& line : world.HostLines())
            EXPECT_EQ(line.find(" threw"), std::string::npos) << line;
        for (const std::string& line : world.Log())
            EXPECT_EQ(line.find(" failed: "), std::string::npos) << line;
    }

    // Every replay is listed under one of its names, a repaired file holds the replay or a body
    // the service sent, and its own bytes are kept: at every step, and at the moment of a crash.
    void CheckReplaysKept()
    {
        for (const auto& [id, replay] : replays) {
            const std::vector<std::string_view> bodies(replay.sentBodies.begin(), replay.sentBodies.end());
            EXPECT_EQ(BrokenGuarantee({replaysFolders, world.backups, id, replay.original, bodies}), "");
        }
    }

    void CheckNoTemporaryFiles(const char* when)
    {
        for (const std::filesystem::path& folder : TemporaryFileFolders())
            EXPECT_THAT(testing_support::TemporaryFilesIn(folder), testing::IsEmpty()) << when << " in " << folder;
    }

    // Every file and folder of the tree except the replays and backup folders, with contents.
    std::map<std::string, std::string> Outside() const
    {
        std::map<std::string, std::string> seen;
        auto it = std::filesystem::recursive_directory_iterator(world.dir.Path());
        for (; it != std::filesystem::recursive_directory_iterator(); ++it) {
            const std::filesystem::path& path = it->path();
            bool ours = path == world.backups;
            for (const std::filesystem::path& folder : replaysFolders)
                ours = ours || path == folder;
            if (ours) {
                it.disable_recursion_pending();
                continue;
            }
            seen[Utf8(path)] = it->is_directory() ? "<folder>" : ReadBytes(path);
        }
        return seen;
    }

    // [SECTION] Randomness

    int Below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random); }

    std::string RandomBytes(std::size_t size)
    {
        std::string bytes(size, '\0');
        for (std::size_t at = 0; at < size; at += 4) {
            const std::uint32_t word = static_cast<std::uint32_t>(random());
            std::memcpy(bytes.data() + at, &word, std::min<std::size_t>(4, size - at));
        }
        return bytes;
    }

    // Short ids, and now and then one as long as a name can carry with "_fixed.replay".
    std::string NewId()
    {
        std::string id = "r" + std::to_string(nextId++);
        if (Below(8) == 0)
            id += std::string(242 - id.size(), 'x');
        return id;
    }

    std::mt19937 random;
    Totals& totals;
    DocumentsSandbox documents; // discovery on a fresh load searches here, not the real home
    PipelineFixture world;
    FaultyFiles files;
    std::vector<std::filesystem::path> replaysFolders;
    std::filesystem::path current = world.demos;
    std::map<std::string, Replay> replays;
    std::deque<Upload> pending; // the replay each outstanding request uploads, oldest first
    int repairs = 0;
    std::map<std::string, std::string> outsideBefore;
    bool panelKnowsFolder = false;
    int nextId = 0;
};

TEST(ReliabilityModel, RandomRunsWithFaultsAndCrashesNeverLoseOrUnlistAReplay)
{
    Totals totals;
    for (int i = 0; i < kSeedCount && !HasFatalFailure(); ++i) {
        SCOPED_TRACE("seed " + std::to_string(kSeeds[i]));
        Model model(kSeeds[i], totals);
        model.Run(kStepsPerSeed);
        ++totals.seeds;
    }
    EXPECT_EQ(totals.steps, kSeedCount * kStepsPerSeed);
    EXPECT_GE(totals.crashes, kRepairSteps + 1) << "every crash point at least once";
    EXPECT_GT(totals.faults, 0);
    EXPECT_GT(totals.renames, 0) << "no 400 renamed a replay";
    ReportReliability("model-test", fmt::format("seeds={} steps={} crashes={} faults={} plays={} replies={} "
                                                "repairs={} renames={}",
                                                totals.seeds, totals.steps, totals.crashes, totals.faults,
                                                totals.plays, totals.replies, totals.repairs, totals.renames));
}

} // namespace
} // namespace model_test
