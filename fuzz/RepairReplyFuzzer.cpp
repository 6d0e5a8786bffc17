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
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "FuzzedPlugin.h"
#include "platform/CodePage.h"
#include "platform/ReplayFiles.h"

namespace {

constexpr char kOriginal[] = "original replay \0\r\n bytes";
constexpr char kOlderRepair[] = "an earlier repaired replay";
constexpr char kOlderCopy[] = "an earlier backup copy";

// Fails the call numbered failAt (1 = the first call of the reply), once.
class FailingReplayFiles : public platform::ReplayFileSystem {
public:
    void Arm(int callToFail, int windowsCode, std::size_t bytesBeforeFailing)
    {
        calls = 0;
        failAt = callToFail;
        code = windowsCode;
        writtenBeforeFailing = bytesBeforeFailing;
        failedCall.clear();
    }
    const std::string& FailedCall() const { return failedCall; }

    std::error_code MoveWithoutReplace(const std::filesystem::path& from, const std::filesystem::path& to) override
    {
        return Fails("move") ? Error() : ReplayFileSystem::MoveWithoutReplace(from, to);
    }
    std::error_code CreateNewFile(const std::filesystem::path& file, platform::FileHandle& handle) override
    {
        return Fails("create") ? Error() : ReplayFileSystem::CreateNewFile(file, handle);
    }
    std::error_code Write(platform::FileHandle handle, std::string_view bytes) override
    {
        if (!Fails("write"))
            return ReplayFileSystem::Write(handle, bytes);
        ReplayFileSystem::Write(handle, bytes.substr(0, std::min(writtenBeforeFailing, bytes.size())));
        return Error();
    }
    std::error_code Close(platform::FileHandle handle) override
    {
        std::error_code closed = ReplayFileSystem::Close(handle);  // released even when it "fails"
        return Fails("close") ? Error() : closed;
    }
    std::error_code RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) override
    {
        return Fails("rename") ? Error() : ReplayFileSystem::RenameReplacing(from, to);
    }
    std::error_code RemoveFile(const std::filesystem::path& file) override
    {
        return Fails("remove") ? Error() : ReplayFileSystem::RemoveFile(file);
    }

private:
    bool Fails(const char* call)
    {
        if (++calls != failAt)
            return false;
        failedCall = call;
        return true;
    }
    std::error_code Error() const { return platform::ReplayFileError(code); }

    int calls = 0;
    int failAt = 0;
    int code = 0;
    std::size_t writtenBeforeFailing = 0;
    std::string failedCall;
};

struct Fixture {
    Fixture() { platform::InstallReplayFileSystem(&files); }

    FuzzedPlugin plugin;
    FailingReplayFiles files;
};

Fixture& TheFixture()
{
    static Fixture fixture;
    return fixture;
}

// The Windows error numbers the seam reports, and one that has no name.
int ErrorCode(FuzzedDataProvider& input)
{
    static const int codes[] = {2, 3, 5, 32, 33, 80, 112, 183, 1224, 0x20000000 + 28};
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
    case 0: return fmt::format("{:X}", input.ConsumeIntegral<std::uint32_t>());
    case 1: return std::string(input.ConsumeIntegralInRange(0, 300), 'R');
    default: return input.ConsumeRandomLengthString(300);
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    Fixture& fixture = TheFixture();
    ReplayTree& tree = fixture.plugin.tree;

    const int status = Status(input);
    const std::string id = Identifier(input);
    const std::string oldName = id + ".replay", fixedName = id + "_fixed.replay", copyName = id + "_copy.replay";
    if (!FitsOneEntry(oldName))
        return -1;  // the play handler never finds such a file, so no reply ever names one
    const bool withBackupFolder = input.ConsumeProbability<float>() < 0.9f;
    const bool oldPresent = input.ConsumeProbability<float>() < 0.9f;
    const bool fixedPresent = input.ConsumeProbability<float>() < 0.15f && FitsOneEntry(fixedName);
    const bool copyPresent = withBackupFolder && input.ConsumeProbability<float>() < 0.15f && FitsOneEntry(copyName);
    const int demosForm = input.ConsumeIntegralInRange(0, 9);  // 0: no folder set; 1: trailing separator
    const int failAt = input.ConsumeIntegralInRange(0, 8);      // 0: nothing fails
    const int code = ErrorCode(input);
    const std::size_t writtenBeforeFailing = input.ConsumeIntegralInRange<std::size_t>(0, 64);
    const bool bodyMissing = input.ConsumeProbability<float>() < 0.03f;
    const std::size_t announcedSize = input.ConsumeIntegral<std::uint32_t>();
    const std::string sentBody = input.ConsumeRemainingBytesAsString();
    // A reply without bytes (null data) that announces some must write nothing; with a count of
    // zero it is an empty body.
    const std::string body = bodyMissing ? std::string() : sentBody;
    const bool bodyUsable = !bodyMissing || announcedSize == 0;

    tree.Reset(withBackupFolder);
    const std::string original(kOriginal, sizeof kOriginal - 1);
    if (oldPresent)
        WriteFile(tree.Demos() / oldName, original);
    if (fixedPresent)
        WriteFile(tree.Demos() / fixedName, kOlderRepair);
    if (copyPresent)
        WriteFile(tree.Backups() / copyName, kOlderCopy);
    const std::filesystem::path demos = demosForm == 0 ? std::filesystem::path()
                                        : demosForm == 1 ? tree.Demos() / ""
                                                         : tree.Demos();
    fixture.plugin.Plugin().demosFolder.Set(demos);
    const ReplayTree::Snapshot before = tree.Take();

    fixture.files.Arm(failAt, code, writtenBeforeFailing);
    std::string escaped;
    try {
        fixture.plugin.Plugin().OnRepairReply(tree.Demos() / oldName, id, status, bodyMissing ? nullptr : sentBody.data(),
                                            bodyMissing ? announcedSize : sentBody.size());
    } catch (const std::exception& error) {
        escaped = error.what();
    } catch (...) {
        escaped = "an exception of unknown type";
    }
    const std::string failedCall = fixture.files.FailedCall();
    fixture.files.Arm(0, 0, 0);
    const ReplayTree::Snapshot after = tree.Take();
    const std::string story = fmt::format(
        "status {}, id {:?}, call {} ({}) failed with {}\nbefore:\n{}after:\n{}plugin's lines: {}", status, id,
        failAt, failedCall, code, Show(before), Show(after), fixture.plugin.TakePluginLines());

    if (!escaped.empty()) {
        FUZZ_CHECK(!Convertible(id), fmt::format("{} escaped the handler\n{}", escaped, story));
        FUZZ_CHECK(after == before, "a conversion error left the files changed\n" + story);
        return 0;
    }
    if (status != 200 && status != 400)
        FUZZ_CHECK(after == before, "the files changed on a status that only logs\n" + story);

    // Only the replay's own three names may appear, only inside the two folders anything may
    // change, and a temporary file stays only when removing it was the call that failed.
    const std::string demosPrefix = "TAGame/Demos/", backupsPrefix = "TAGame/OV_Ravento_BackupReplays/";
    const auto inFolders = [&](const std::string& name) {
        return name.starts_with(demosPrefix) || name.starts_with(backupsPrefix);
    };
    for (const auto& [name, bytes] : after) {
        if (before.count(name)) {
            FUZZ_CHECK(inFolders(name) || before.at(name) == bytes, fmt::format("{:?} changed\n{}", name, story));
            continue;
        }
        const bool ownName = name == demosPrefix + oldName || name == demosPrefix + fixedName || name == backupsPrefix + copyName;
        FUZZ_CHECK(ownName || failedCall == "remove", fmt::format("{:?} was left behind\n{}", name, story));
    }
    for (const auto& [name, bytes] : before)
        FUZZ_CHECK(after.count(name) || inFolders(name), fmt::format("{:?} vanished\n{}", name, story));

    const std::optional<std::string> oldNow = ReadFile(tree.Demos() / oldName);
    const std::optional<std::string> fixedNow = ReadFile(tree.Demos() / fixedName);
    const std::optional<std::string> copyNow = ReadFile(tree.Backups() / copyName);
    if (oldPresent) {
        FUZZ_CHECK(oldNow || fixedNow, "the replay is no longer listed\n" + story);
        FUZZ_CHECK(oldNow == original || fixedNow == original || copyNow == original, "the original bytes are lost\n" + story);
    }
    if (status == 200) {
        const std::optional<std::string> fixedBefore =
            fixedPresent ? std::optional<std::string>(kOlderRepair) : std::nullopt;
        FUZZ_CHECK(fixedNow == fixedBefore || fixedNow == body, "the repaired file is not the reply body\n" + story);
        if (oldPresent && !copyPresent && copyNow == original)
            FUZZ_CHECK(fixedNow == body && !oldNow, "the old file went to the backup folder without a repair\n" + story);
        const bool repairable = oldPresent && withBackupFolder && !copyPresent && demosForm != 0 && bodyUsable
                                && FitsOneEntry(fixedName) && FitsOneEntry(copyName) && Convertible(id);
        if (repairable && failAt == 0)
            FUZZ_CHECK(fixedNow == body && copyNow == original && !oldNow, "a 200 with nothing failing did not repair\n" + story);
    }
    return 0;
}
