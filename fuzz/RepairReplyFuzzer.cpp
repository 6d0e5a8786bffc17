// The reply handler of the real plugin object, against a replays folder laid out by the input,
// with the file seam failing one call chosen by the input (which call, which Windows error
// number, how far into a write). After every reply:
//   - the replay is still listed, as "<id>.replay" or "<id>_fixed.replay", and its original
//     bytes still exist under one of its three names;
//   - a repaired file is the whole reply body or not there: never a part of it;
//   - when the old file went to the backup folder, the repaired file is in place;
//   - with nothing failing, a 200 repairs the replay whenever its names fit the file system;
//   - nothing outside the two folders changes, and no temporary file stays behind;
//   - nothing throws, except a conversion error for an identifier the code page cannot hold,
//     and then before anything changed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "FuzzedPlugin.h"
#include "ReplayReplacement.h"
#include "platform/CodePage.h"
#include "platform/Processes.h"
#include "platform/ReplayFiles.h"
#include "support/FaultyFiles.h"
#include "support/ReplayGuarantee.h"

namespace {

// Binary bytes with a NUL and a line break, so text-mode handling would show.
const std::string kOriginalBytes = std::string("original replay \0\r\n bytes", 26);
constexpr char kOlderRepair[] = "an earlier repaired replay";
constexpr char kOlderCopy[] = "an earlier backup copy";

struct Fixture {
    FuzzedPlugin plugin;
    testing_support::FaultyFiles files;
};

// Fails the change numbered failAt (1 = the reply's first), once; 0 fails nothing.
void Arm(testing_support::FaultyFiles& files, int failAt, int windowsCode, std::size_t bytesBeforeFailing)
{
    files.Reset();
    if (failAt > 0)
        files.Fail(testing_support::FileCall::AnyChange, failAt, windowsCode, bytesBeforeFailing);
}

Fixture& TheFixture()
{
    static Fixture fixture;
    return fixture;
}

// The Windows error numbers the seam reports, and one that has no name.
int ErrorCode(FuzzedDataProvider& input)
{
    // 17 sends the old file's move down the copying path.
    static const int codes[] = {2, 3, 5, 17, 17, 32, 33, 80, 112, 183, 1224, 0x20000000 + 28};
    return input.ConsumeBool() ? input.PickValueInArray(codes) : input.ConsumeIntegralInRange(1, 0xFFFF);
}

int Status(FuzzedDataProvider& input)
{
    static const int statuses[] = {200, 200, 200, 400, 429, 500, 0, 404};
    return input.ConsumeBool() ? input.PickValueInArray(statuses) : input.ConsumeIntegral<int>();
}

// A short identifier as the game makes them, one of any length up to past the longest file
// name, or any bytes at all.
std::string Identifier(FuzzedDataProvider& input)
{
    switch (input.ConsumeIntegralInRange(0, 2)) {
    case 0:
        return fmt::format("{:X}", input.ConsumeIntegral<std::uint32_t>());
    case 1:
        return std::string(input.ConsumeIntegralInRange(0, 300), 'R');
    default:
        return input.ConsumeRandomLengthString(300);
    }
}

bool Convertible(const std::string& text)
{
    std::filesystem::path ignored;
    return !platform::PathFromCodePageText(text, ignored);
}

std::string Show(const ReplayTree::Snapshot& snapshot)
{
    std::string text;
    for (const auto& [name, bytes] : snapshot)
        text += fmt::format("  {:?}: {} bytes\n", name, bytes.size());
    return text;
}

// What an earlier crash left for this replay: a temporary file whose process is gone, is this
// one, or still runs.
enum class Leftover { None, Writing, Whole, WritingOfRunningProcess, WholeOfRunningProcess };

// One reply and the replays folder it meets, as the input chooses them.
struct ReplyCase {
    int status = 0;
    Leftover leftover = Leftover::None;
    bool leftoverOfThisProcess = false; // else of a process that has ended
    std::string id, oldName, fixedName, copyName;
    bool withBackupFolder = false, oldPresent = false, fixedPresent = false, copyPresent = false;
    int demosForm = 0; // 0: no folder set; 1: with a trailing separator; else as it is
    int failAt = 0; // 0: nothing fails
    int code = 0;
    std::size_t writtenBeforeFailing = 0;
    bool bodyMissing = false; // null data with announcedSize bytes announced
    std::size_t announcedSize = 0;
    std::string sentBody;

    const char* Data() const { return bodyMissing ? nullptr : sentBody.data(); }
    std::size_t Size() const { return bodyMissing ? announcedSize : sentBody.size(); }
    // What a repaired file may hold: the body, or nothing at all for null data of size 0.
    std::string Body() const { return bodyMissing ? std::string() : sentBody; }
    // Bytes that make a repair: present as announced, and not none (an empty body repairs nothing).
    bool BodyUsable() const { return !bodyMissing && !sentBody.empty(); }
};

// Null for an identifier whose file cannot be one entry: the play handler never finds such a
// file, so no reply ever names one.
std::optional<ReplyCase> ReadCase(FuzzedDataProvider& input)
{
    ReplyCase reply;
    reply.status = Status(input);
    reply.id = Identifier(input);
    reply.oldName = reply.id + ".replay";
    reply.fixedName = reply.id + "_fixed.replay";
    reply.copyName = reply.id + "_copy.replay";
    if (!FitsOneEntry(reply.oldName))
        return std::nullopt;
    reply.withBackupFolder = input.ConsumeProbability<float>() < 0.9f;
    reply.oldPresent = input.ConsumeProbability<float>() < 0.9f;
    reply.fixedPresent = input.ConsumeProbability<float>() < 0.15f && FitsOneEntry(reply.fixedName);
    reply.copyPresent =
        reply.withBackupFolder && input.ConsumeProbability<float>() < 0.15f && FitsOneEntry(reply.copyName);
    reply.demosForm = input.ConsumeIntegralInRange(0, 9);
    reply.failAt = input.ConsumeIntegralInRange(0, 12);
    reply.leftover = static_cast<Leftover>(input.ConsumeIntegralInRange(0, 4));
    reply.leftoverOfThisProcess = input.ConsumeBool();
    reply.code = ErrorCode(input);
    reply.writtenBeforeFailing = input.ConsumeIntegralInRange<std::size_t>(0, 64);
    reply.bodyMissing = input.ConsumeProbability<float>() < 0.03f;
    reply.announcedSize = input.ConsumeIntegral<std::uint32_t>();
    reply.sentBody = input.ConsumeRemainingBytesAsString();
    return reply;
}

// A process id no process has: above the largest Linux hands out.
constexpr std::uint32_t kEndedProcess = 0x7FFFFFF0;

bool IsRunningOwner(Leftover leftover)
{
    return leftover == Leftover::WritingOfRunningProcess || leftover == Leftover::WholeOfRunningProcess;
}

// The leftover's name in the replays folder, relative to the tree ("" for none).
std::string LeftoverName(const ReplyCase& reply)
{
    if (reply.leftover == Leftover::None || !Convertible(reply.id))
        return {};
    const std::uint32_t owner = IsRunningOwner(reply.leftover) ? static_cast<std::uint32_t>(::getppid())
        : reply.leftoverOfThisProcess                            ? platform::CurrentProcessId()
                                                                 : kEndedProcess;
    plugin::TemporaryNames names = plugin::NewTemporaryNames(reply.id, owner);
    const bool whole = reply.leftover == Leftover::Whole || reply.leftover == Leftover::WholeOfRunningProcess;
    return "TAGame/Demos/" + (whole ? names.whole : names.writing).string();
}

// Lays out the folders and returns the replays folder as the plugin is to know it.
std::filesystem::path LayOut(ReplayTree& tree, const ReplyCase& reply, const std::string& leftover)
{
    tree.Reset(reply.withBackupFolder);
    if (reply.oldPresent)
        WriteFile(tree.Demos() / reply.oldName, kOriginalBytes);
    if (reply.fixedPresent)
        WriteFile(tree.Demos() / reply.fixedName, kOlderRepair);
    if (reply.copyPresent)
        WriteFile(tree.Backups() / reply.copyName, kOlderCopy);
    // A whole one is what the same 200 left when it died; the settling may make it the repair.
    if (!leftover.empty())
        WriteFile(tree.Root() / leftover, reply.Body());
    if (reply.demosForm == 0)
        return {};
    return reply.demosForm == 1 ? tree.Demos() / "" : tree.Demos();
}

// What the reply did: the folders before and after, and what went wrong on the way.
struct Outcome {
    ReplayTree::Snapshot before, after;
    std::string escaped; // what an exception leaving the handler said
    std::string failedCall; // the seam call made to fail, if the handler reached it
    std::vector<std::string> lines;
};

// Only the replay's own three names may appear, only inside the two folders may anything change,
// and a temporary file stays only when removing it was the call that failed.
template <typename Story>
void CheckFolders(const ReplyCase& reply, const Outcome& outcome, const Story& story)
{
    const std::string demosPrefix = "TAGame/Demos/", backupsPrefix = "TAGame/OV_Ravento_BackupReplays/";
    const auto inFolders = [&](const std::string& name) {
        return name.starts_with(demosPrefix) || name.starts_with(backupsPrefix);
    };
    for (const auto& [name, bytes] : outcome.after) {
        auto was = outcome.before.find(name);
        if (was != outcome.before.end()) {
            FUZZ_CHECK(inFolders(name) || was->second == bytes,
                       fmt::format("a file outside the folders changed: {:?}\n{}", name, story()));
            continue;
        }
        const bool ownName = name == demosPrefix + reply.oldName || name == demosPrefix + reply.fixedName
            || name == backupsPrefix + reply.copyName || name + "/" == backupsPrefix;
        FUZZ_CHECK(ownName || outcome.failedCall == "remove",
                   fmt::format("a file was left behind: {:?}\n{}", name, story()));
    }
    for (const auto& [name, bytes] : outcome.before)
        FUZZ_CHECK(outcome.after.count(name) || inFolders(name),
                   fmt::format("a file outside the folders vanished: {:?}\n{}", name, story()));
}

// The replay stays listed with its bytes kept; a 200 leaves the whole body or nothing, never
// parks the old file without the repaired one, and repairs when nothing fails.
template <typename Story>
void CheckReplay(const ReplyCase& reply, const ReplayTree& tree, const Story& story)
{
    const std::optional<std::string> oldNow = ReadFile(tree.Demos() / reply.oldName);
    const std::optional<std::string> fixedNow = ReadFile(tree.Demos() / reply.fixedName);
    const std::optional<std::string> copyNow = ReadFile(tree.Backups() / reply.copyName);
    if (reply.oldPresent) {
        std::optional<std::string_view> earlierCopy;
        if (reply.copyPresent)
            earlierCopy = kOlderCopy;
        const std::string broken = testing_support::BrokenGuarantee(
            {{tree.Demos()}, tree.Backups(), reply.id, kOriginalBytes, {reply.Body(), kOlderRepair}, false, earlierCopy});
        FUZZ_CHECK(broken.empty(), broken + "\n" + story());
    }
    const bool renamable = reply.oldPresent && !reply.fixedPresent && reply.demosForm != 0
        && FitsOneEntry(reply.fixedName) && Convertible(reply.id);
    if (reply.status == 400 && renamable && reply.failAt == 0)
        FUZZ_CHECK(fixedNow == kOriginalBytes && !oldNow, "a 400 with nothing failing did not rename\n" + story());
    if (reply.status != 200)
        return;
    const std::string body = reply.Body();
    const std::optional<std::string> fixedBefore =
        reply.fixedPresent ? std::optional<std::string>(kOlderRepair) : std::nullopt;
    FUZZ_CHECK(fixedNow == fixedBefore || fixedNow == body, "the repaired file is not the reply body\n" + story());
    if (reply.oldPresent && !reply.copyPresent && copyNow == kOriginalBytes)
        FUZZ_CHECK(fixedNow == body && !oldNow, "the old file went to the backup folder without a repair\n" + story());
    const bool repairable = reply.oldPresent && !reply.copyPresent && reply.demosForm != 0 && reply.BodyUsable()
        && FitsOneEntry(reply.fixedName) && FitsOneEntry(reply.copyName) && Convertible(reply.id);
    if (repairable && reply.failAt == 0)
        FUZZ_CHECK(fixedNow == body && copyNow == kOriginalBytes && !oldNow,
                   "a 200 with nothing failing did not repair\n" + story());
}

// The first reply of a load settles only what no live process is writing. A finished one whose
// repaired file's name is too long to exist stays: it cannot become that file.
template <typename Story>
void CheckLeftover(const ReplyCase& reply, const std::string& leftover, const Outcome& outcome, const Story& story)
{
    if (leftover.empty())
        return;
    const bool stays = outcome.after.count(leftover) != 0;
    if (IsRunningOwner(reply.leftover))
        FUZZ_CHECK(stays && outcome.after.at(leftover) == outcome.before.at(leftover),
                   "a running process's temporary file was touched\n" + story());
    else if (reply.demosForm != 0 && outcome.failedCall.empty() && FitsOneEntry(reply.fixedName))
        FUZZ_CHECK(!stays, "a temporary file of an ended process stayed\n" + story());
}

// The snapshot without what the first reply of a load may settle: the leftover, and the
// repaired file a whole one may become.
ReplayTree::Snapshot Settleable(ReplayTree::Snapshot snapshot, const ReplyCase& reply, const std::string& leftover)
{
    if (!leftover.empty()) {
        snapshot.erase(leftover);
        snapshot.erase("TAGame/Demos/" + reply.fixedName);
    }
    // The replays folder's lock file stays, empty, when its removal is the call that failed.
    snapshot.erase("TAGame/Demos/.ravento-replies.lock");
    return snapshot;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    std::optional<ReplyCase> reply = ReadCase(input);
    if (!reply)
        return -1;
    Fixture& fixture = TheFixture();
    ReplayTree& tree = fixture.plugin.tree;
    Ravento& plugin = fixture.plugin.Plugin();

    const std::string leftover = LeftoverName(*reply);
    plugin.demosFolder.Set(LayOut(tree, *reply, leftover));
    plugin.leftoversSettled = false; // every input is the first reply of a load
    Outcome outcome;
    outcome.before = tree.Take();
    // A running process's reply holds the file it writes, whatever its process id.
    platform::FileHandle held = 0;
    const bool holding =
        IsRunningOwner(reply->leftover) && !leftover.empty() && !platform::ReplayFiles().Hold(tree.Root() / leftover, false, held);
    Arm(fixture.files, reply->failAt, reply->code, reply->writtenBeforeFailing);
    try {
        plugin.OnRepairReply(plugin.demosFolder.Get(), tree.Demos() / reply->oldName, reply->id, reply->status,
                             reply->Data(), reply->Size());
    } catch (const std::exception& error) {
        outcome.escaped = error.what();
    } catch (...) {
        outcome.escaped = "an exception of unknown type";
    }
    if (holding)
        platform::ReplayFiles().Release(held);
    outcome.failedCall = fixture.files.FailedCall();
    Arm(fixture.files, 0, 0, 0);
    outcome.after = tree.Take();
    outcome.lines = fixture.plugin.TakePluginLines();
    const auto story = [&] {
        return fmt::format("status {}, id {:?}, call {} ({}) failed with {}\nbefore:\n{}after:\n{}plugin's lines: {}",
                           reply->status, reply->id, reply->failAt, outcome.failedCall, reply->code,
                           Show(outcome.before), Show(outcome.after), outcome.lines);
    };

    if (!outcome.escaped.empty()) {
        FUZZ_CHECK(!Convertible(reply->id),
                   fmt::format("an exception escaped the handler: {}\n{}", outcome.escaped, story()));
        FUZZ_CHECK(Settleable(outcome.after, *reply, leftover) == Settleable(outcome.before, *reply, leftover),
                   "a conversion error left the files changed\n" + story());
        return 0;
    }
    if (reply->status != 200 && reply->status != 400)
        FUZZ_CHECK(Settleable(outcome.after, *reply, leftover) == Settleable(outcome.before, *reply, leftover),
                   "the files changed on a status that only logs\n" + story());
    CheckFolders(*reply, outcome, story);
    CheckReplay(*reply, tree, story);
    CheckLeftover(*reply, leftover, outcome, story);
    return 0;
}
