// The repaired-replay write; ReplayReplacement.h describes the protocol and its crash states.
//
// Index: [SECTION] Names, [SECTION] Steps, [SECTION] Answers, [SECTION] Settling leftovers
#include "ReplayReplacement.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include <fmt/format.h>

#include "FileSystem.h"
#include "ModuleConsole.h"
#include "Ravento.h"
#include "platform/Processes.h"
#include "platform/ReplayFiles.h"

namespace plugin {

namespace {

using platform::FileError;
using NativeText = std::filesystem::path::string_type;

// Replies change the two folders one at a time. The game thread never takes this lock.
std::mutex replyFilesMutex;

void Log(std::string line)
{
    moduleConsole->log(std::move(line));
}

// [SECTION] Names

// '#' stands for one lower-case hex digit, '*' for the suffix; every other character must be
// there as it is.
constexpr std::string_view kNameForm = ".ravento-################-########-########.***";
constexpr std::size_t kHashAt = 9;
constexpr std::size_t kProcessAt = kHashAt + 17;
constexpr std::size_t kSuffixAt = kNameForm.size() - 3;
constexpr std::string_view kWritingSuffix = "tmp";
constexpr std::string_view kWholeSuffix = "new";
// Longer than any transfer and write can take: a file this old belongs to no live reply, even
// when its process id has since been given to another process.
constexpr std::chrono::hours kAbandonedAfter{24};

NativeText Native(std::string_view ascii)
{
    return NativeText(ascii.begin(), ascii.end());
}

bool EndsWith(const NativeText& text, const NativeText& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// FNV-1a over the path's own characters: the same identifier gives the same hash whichever
// way its name was read.
std::uint64_t HashOf(const NativeText& text)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (auto unit : text) {
        hash ^= static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<decltype(unit)>>(unit));
        hash *= 0x100000001b3u;
    }
    return hash;
}

int HexValue(std::filesystem::path::value_type unit)
{
    if (unit >= '0' && unit <= '9')
        return unit - '0';
    if (unit >= 'a' && unit <= 'f')
        return unit - 'a' + 10;
    return -1;
}

std::uint64_t HexIn(const NativeText& name, std::size_t at, std::size_t digits)
{
    std::uint64_t value = 0;
    for (std::size_t end = at + digits; at < end; ++at)
        value = (value << 4) | static_cast<std::uint64_t>(HexValue(name[at]));
    return value;
}

// Unique within the process by the counter; across processes the name carries the process id.
std::uint32_t UniqueNumber()
{
    static std::atomic<std::uint32_t> next{0};
    return next.fetch_add(1);
}

bool IsWhole(const NativeText& temporaryName)
{
    return temporaryName.substr(kSuffixAt) == Native(kWholeSuffix);
}

// Every name a 200 answer uses, made before anything changes, so that a conversion error
// changes nothing.
struct ReplacementNames {
    std::filesystem::path backupFolder;
    std::filesystem::path backupCopy; // "{id}_copy.replay" in the backup folder
    std::filesystem::path repaired; // "{id}_fixed.replay" in the replays folder
    TemporaryNames temporary; // in the replays folder
    std::filesystem::path backupTemporary; // the copy on its way into the backup folder
};

ReplacementNames NamesFor(const std::filesystem::path& demos, const std::string& replayId)
{
    ReplacementNames names;
    names.backupFolder = BackupFolderBeside(demos);
    names.backupCopy =
        PathFromCodePage(fmt::format("{}/{}_copy.replay", CodePageText(names.backupFolder), replayId));
    const std::filesystem::path id = PathFromCodePage(replayId);
    names.repaired = demos / PathFromCodePage(fmt::format("{}_fixed.replay", replayId));
    const TemporaryNames temporary = TemporaryNamesFor(id, platform::CurrentProcessId());
    names.temporary = {demos / temporary.writing, demos / temporary.whole};
    names.backupTemporary = names.backupFolder / temporary.writing;
    return names;
}

// [SECTION] Steps

std::uint32_t ErrorNumber(std::error_code error)
{
    return static_cast<std::uint32_t>(error.value());
}

std::string Reason(std::error_code error)
{
    return fmt::format("{} ({})", error.message(), ErrorNumber(error));
}

// What went wrong, in a few words for the player, with the code the log gives.
std::string Failure(std::string_view what, std::error_code error)
{
    return fmt::format("{} ({})", what, ErrorNumber(error));
}

std::string BackupFailure(std::error_code error)
{
    return Failure("the original could not be moved to the backup folder", error);
}

void LogBackupFailure(std::error_code error)
{
    Log(fmt::format("Error moving old file to backup folder: {}", ErrorNumber(error)));
}

// The repaired file cannot be created, whichever step finds out; the reason goes on a line of
// its own.
void LogRefusedRepairedFile(const std::filesystem::path& repaired, std::error_code error)
{
    Log(fmt::format("Failed to open output path at {}", LogText(repaired)));
    Log(fmt::format("Repaired file refused: {}", Reason(error)));
}

// A replays folder typed in by the player has no backup folder yet: make it as discovery does.
// Why not (logged as a failed backup) when it cannot be made.
std::string EnsureBackupFolder(const std::filesystem::path& backupFolder)
{
    std::error_code error = platform::ReplayFiles().CreateFolder(backupFolder);
    if (!error) {
        Log("Created Backup Directory");
        return {};
    }
    if (platform::IsNameTaken(error))
        return {}; // a file of that name fails the move below, with its own code
    LogBackupFailure(error);
    return Failure("the backup folder could not be made", error);
}

// Writes bytes to names.temporary.writing, flushes and closes it, then renames it to
// names.temporary.whole. On failure nothing is left, the failure is logged and returned.
std::string WriteWhole(const ReplacementNames& names, std::string_view bytes)
{
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    platform::FileHandle handle = 0;
    if (std::error_code error = files.CreateNewFile(names.temporary.writing, handle)) {
        LogRefusedRepairedFile(names.repaired, error);
        return Failure("the repaired file could not be created", error);
    }
    std::error_code error = files.Write(handle, bytes);
    std::error_code closeError = files.Close(handle);
    if (!error)
        error = closeError;
    if (!error)
        error = files.RenameReplacing(names.temporary.writing, names.temporary.whole);
    if (error) {
        files.RemoveFile(names.temporary.writing);
        Log(fmt::format("Failed to write repaired file {}: {}", LogText(names.repaired), Reason(error)));
        return Failure("the repaired file could not be written", error);
    }
    return {};
}

// Moves the old file to its backup copy, never replacing one. Across volumes the copy is made
// under a temporary name and flushed before it is named, so a crash never leaves a part of it
// looking like a backup.
std::error_code MoveToBackup(const std::filesystem::path& oldFile, const ReplacementNames& names)
{
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    std::error_code error = files.MoveWithoutReplace(oldFile, names.backupCopy);
    if (!platform::Is(error, FileError::NotSameDevice))
        return error;
    if ((error = files.CopyToNewFile(oldFile, names.backupTemporary)))
        return error;
    if ((error = files.MoveWithoutReplace(names.backupTemporary, names.backupCopy))) {
        files.RemoveFile(names.backupTemporary);
        return error;
    }
    if ((error = files.RemoveFile(oldFile)))
        files.RemoveFile(names.backupCopy); // the old file stays; its copy was ours alone
    return error;
}

// Once the old file is in the backup folder it comes back under its own name unless the
// repaired file took its place, even when something throws on the way.
class MoveBackUnlessRepaired {
public:
    MoveBackUnlessRepaired(const std::filesystem::path& oldFile, const ReplacementNames& names)
        : oldFile(oldFile), names(names)
    {
    }
    ~MoveBackUnlessRepaired()
    {
        if (!settled)
            MoveBack();
    }
    MoveBackUnlessRepaired(const MoveBackUnlessRepaired&) = delete;
    MoveBackUnlessRepaired& operator=(const MoveBackUnlessRepaired&) = delete;

    std::error_code MoveBack()
    {
        settled = true;
        platform::ReplayFileSystem& files = platform::ReplayFiles();
        std::error_code error = files.MoveWithoutReplace(names.backupCopy, oldFile);
        files.RemoveFile(names.temporary.whole);
        return error;
    }
    void Repaired() { settled = true; }

private:
    const std::filesystem::path& oldFile;
    const ReplacementNames& names;
    bool settled = false;
};

// No repaired file is listed yet: the new one goes into place before the old file moves, so for
// that moment the replay is listed under both names, never under neither.
std::string PlaceThenBackUp(const std::filesystem::path& oldFile, const ReplacementNames& names)
{
    if (std::error_code error = MoveToBackup(oldFile, names)) {
        platform::ReplayFiles().RemoveFile(names.repaired);
        LogBackupFailure(error);
        return BackupFailure(error);
    }
    return {};
}

// A repaired file is already listed: it stays listed while the old file moves, and is replaced
// after.
std::string BackUpThenReplace(const std::filesystem::path& oldFile, const ReplacementNames& names)
{
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    if (std::error_code error = MoveToBackup(oldFile, names)) {
        files.RemoveFile(names.temporary.whole);
        LogBackupFailure(error);
        return BackupFailure(error);
    }
    MoveBackUnlessRepaired guard(oldFile, names);
    std::error_code renameError = files.RenameReplacing(names.temporary.whole, names.repaired);
    if (!renameError) {
        guard.Repaired();
        return {};
    }
    std::error_code moveBackError = guard.MoveBack();
    LogRefusedRepairedFile(names.repaired, renameError);
    if (!moveBackError)
        return Failure("the repaired file could not replace the earlier one", renameError);
    Log(fmt::format("Error moving old file back from backup folder: {}", ErrorNumber(moveBackError)));
    return Failure("the original could not be moved back from the backup folder", moveBackError);
}

} // namespace

// [SECTION] Answers

std::filesystem::path BackupFolderBeside(const std::filesystem::path& replaysFolder)
{
    std::filesystem::path folder = replaysFolder.lexically_normal();
    if (folder.filename().empty()) // a trailing separator
        folder = folder.parent_path();
    return folder.parent_path() / kBackupFolderName;
}

std::string ReplaceWithRepaired(const std::filesystem::path& demos, const std::filesystem::path& oldFile,
                                const std::string& replayId, std::string_view repairedBytes)
{
    const ReplacementNames names = NamesFor(demos, replayId);
    std::lock_guard lock(replyFilesMutex);
    if (std::string failure = EnsureBackupFolder(names.backupFolder); !failure.empty())
        return failure;
    if (std::string failure = WriteWhole(names, repairedBytes); !failure.empty())
        return failure;
    const std::error_code placeError =
        platform::ReplayFiles().MoveWithoutReplace(names.temporary.whole, names.repaired);
    if (!placeError)
        return PlaceThenBackUp(oldFile, names);
    if (platform::IsNameTaken(placeError))
        return BackUpThenReplace(oldFile, names);
    // The name itself was refused (too long, say): nothing has moved, and nothing will.
    platform::ReplayFiles().RemoveFile(names.temporary.whole);
    LogRefusedRepairedFile(names.repaired, placeError);
    return Failure("the repaired file's name was refused", placeError);
}

std::string GiveRepairedName(const std::filesystem::path& demos, const std::filesystem::path& oldFile,
                             const std::string& replayId)
{
    std::filesystem::path target = PathFromCodePage(fmt::format("{}/{}_fixed.replay", CodePageText(demos), replayId));
    std::lock_guard lock(replyFilesMutex);
    if (std::error_code error = platform::ReplayFiles().MoveWithoutReplace(oldFile, target))
        return Failure("the replay could not be given its repaired name", error);
    return {};
}

TemporaryNames TemporaryNamesFor(const std::filesystem::path& replayId, std::uint32_t processId)
{
    const std::string stem =
        fmt::format(".ravento-{:016x}-{:08x}-{:08x}.", HashOf(replayId.native()), processId, UniqueNumber());
    return {Native(stem + std::string(kWritingSuffix)), Native(stem + std::string(kWholeSuffix))};
}

bool IsTemporaryName(const std::filesystem::path& name)
{
    const NativeText& text = name.native();
    if (text.size() != kNameForm.size())
        return false;
    for (std::size_t at = 0; at < kSuffixAt; ++at) {
        bool fits = kNameForm[at] == '#' ? HexValue(text[at]) >= 0 : text[at] == kNameForm[at];
        if (!fits)
            return false;
    }
    const NativeText suffix = text.substr(kSuffixAt);
    return suffix == Native(kWritingSuffix) || suffix == Native(kWholeSuffix);
}

// [SECTION] Settling leftovers

namespace {

bool IsMissing(const std::filesystem::path& path)
{
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
    return status.type() == std::filesystem::file_type::not_found;
}

// The temporary files in folder; error tells whether the listing failed.
std::vector<std::filesystem::path> TemporaryFilesIn(const std::filesystem::path& folder, std::error_code& error)
{
    std::vector<std::filesystem::path> names;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        if (IsTemporaryName(entry->path().filename()))
            names.push_back(entry->path().filename());
    }
    return names;
}

// Whether no live reply can still be writing this file (see ReplayReplacement.h).
bool IsAbandoned(const std::filesystem::path& file)
{
    const auto owner = static_cast<std::uint32_t>(HexIn(file.filename().native(), kProcessAt, 8));
    if (owner == platform::CurrentProcessId() || !platform::ProcessIsRunning(owner))
        return true;
    std::error_code error;
    const auto written = std::filesystem::last_write_time(file, error);
    return !error && std::filesystem::file_time_type::clock::now() - written > kAbandonedAfter;
}

// The identifier with this hash whose old file went to the backup folder and did not come back:
// the crash fell between that move and the rename of the finished temporary file.
std::optional<NativeText> IdentifierOnlyInBackup(const std::filesystem::path& demos,
                                                 const std::filesystem::path& backupFolder, std::uint64_t hash)
{
    const NativeText copySuffix = Native("_copy.replay");
    std::error_code error; // without a backup folder no replay can be only there
    for (std::filesystem::directory_iterator entry(backupFolder, error), end; !error && entry != end;
         entry.increment(error)) {
        const NativeText text = entry->path().filename().native();
        if (!EndsWith(text, copySuffix))
            continue;
        NativeText id = text.substr(0, text.size() - copySuffix.size());
        if (HashOf(id) == hash && IsMissing(demos / (id + Native(".replay"))))
            return id;
    }
    return std::nullopt;
}

} // namespace

bool SettleLeftovers(const std::filesystem::path& demos)
{
    const std::filesystem::path backupFolder = BackupFolderBeside(demos);
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    std::lock_guard lock(replyFilesMutex);

    std::error_code ignored; // a missing backup folder holds nothing to settle
    for (const std::filesystem::path& name : TemporaryFilesIn(backupFolder, ignored)) {
        if (IsAbandoned(backupFolder / name))
            files.RemoveFile(backupFolder / name);
    }

    std::error_code listingError;
    for (const std::filesystem::path& name : TemporaryFilesIn(demos, listingError)) {
        const std::filesystem::path file = demos / name;
        if (!IsAbandoned(file))
            continue;
        std::optional<NativeText> id;
        if (IsWhole(name.native()))
            id = IdentifierOnlyInBackup(demos, backupFolder, HexIn(name.native(), kHashAt, 16));
        if (id)
            files.RenameReplacing(file, demos / (*id + Native("_fixed.replay")));
        else
            files.RemoveFile(file);
    }
    return !listingError;
}

} // namespace plugin
