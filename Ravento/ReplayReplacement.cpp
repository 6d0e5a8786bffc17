// The repaired-replay write; ReplayReplacement.h describes the protocol and its crash states.
//
// Index: [SECTION] Names, [SECTION] Held files, [SECTION] Steps, [SECTION] Answers,
//        [SECTION] Settling leftovers
#include "ReplayReplacement.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "FileSystem.h"
#include "ModuleConsole.h"
#include "platform/CodePage.h"
#include "platform/Processes.h"
#include "platform/ReplayFiles.h"

namespace plugin {

namespace {

using platform::FileError;
using NativeText = std::filesystem::path::string_type;

// Replies change the two folders one at a time within this process. The game thread never
// takes this lock; the folder lock below keeps other processes out.
std::mutex replyFilesMutex;

void Log(std::string line)
{
    moduleConsole->log(std::move(line));
}

// [SECTION] Names

// '#' stands for one lower-case hex digit, '*' for the suffix; every other character must be
// there as it is. Earlier versions wrote the form without the number.
constexpr std::string_view kNameForm = ".ravento-################-########-########.***";
constexpr std::string_view kEarlierNameForm = ".ravento-################-########.***";
constexpr std::size_t kHashAt = 9;
constexpr std::string_view kWritingSuffix = "tmp";
constexpr std::string_view kWholeSuffix = "new";
constexpr std::string_view kFolderLockName = ".ravento-replies.lock";

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

bool FitsForm(const NativeText& text, std::string_view form)
{
    if (text.size() != form.size())
        return false;
    const std::size_t suffixAt = form.size() - 3;
    for (std::size_t at = 0; at < suffixAt; ++at) {
        bool fits = form[at] == '#' ? HexValue(text[at]) >= 0 : text[at] == form[at];
        if (!fits)
            return false;
    }
    const NativeText suffix = text.substr(suffixAt);
    return suffix == Native(kWritingSuffix) || suffix == Native(kWholeSuffix);
}

// Unique within the process by the counter; across processes the name carries the process id.
std::uint32_t UniqueNumber()
{
    static std::atomic<std::uint32_t> next{0};
    return next.fetch_add(1);
}

bool IsWhole(const NativeText& temporaryName)
{
    return EndsWith(temporaryName, Native(kWholeSuffix));
}

// folder's narrow text, "/" and name, read back as a path: the way the replay's names in the
// backup folder, and the 400's new name, are formed. Fails when the code page has no form for
// folder or name.
std::error_code JoinInCodePage(const std::filesystem::path& folder, const std::string& name,
                               std::filesystem::path& joined)
{
    std::string folderText;
    if (std::error_code error = platform::CodePageTextFromPath(folder, folderText))
        return error;
    return platform::PathFromCodePageText(fmt::format("{}/{}", folderText, name), joined);
}

// Every name a 200 answer uses, made before anything changes, so that a conversion error
// changes nothing. The letters are those of the table in ReplayReplacement.h.
struct ReplacementNames {
    std::filesystem::path backupFolder;
    std::filesystem::path backupCopy; // C: "{id}_copy.replay" in the backup folder
    std::filesystem::path repaired; // F: "{id}_fixed.replay" in the replays folder
    TemporaryNames temporary; // T, in the replays folder
    std::filesystem::path backupTemporary; // C.tmp: the copy on its way into the backup folder
};

std::error_code NamesFor(const std::filesystem::path& replaysFolder, const std::string& replayId,
                         ReplacementNames& names)
{
    names.backupFolder = BackupFolderBeside(replaysFolder);
    std::filesystem::path id;
    std::filesystem::path repairedName;
    std::error_code error;
    if ((error = JoinInCodePage(names.backupFolder, replayId + "_copy.replay", names.backupCopy))
        || (error = platform::PathFromCodePageText(replayId, id))
        || (error = platform::PathFromCodePageText(replayId + "_fixed.replay", repairedName)))
        return error;
    names.repaired = replaysFolder / repairedName;
    const TemporaryNames temporary = NewTemporaryNames(id, platform::CurrentProcessId());
    names.temporary = {replaysFolder / temporary.writing, replaysFolder / temporary.whole};
    names.backupTemporary = names.backupFolder / temporary.writing;
    return {};
}

// [SECTION] Held files

// A file held (locked) through the seam for as long as this object lives.
class HeldFile {
public:
    HeldFile() = default;
    HeldFile(HeldFile&& other) noexcept : handle(other.handle), held(std::exchange(other.held, false)) {}
    HeldFile& operator=(HeldFile&& other) noexcept
    {
        std::swap(handle, other.handle);
        std::swap(held, other.held);
        return *this;
    }
    ~HeldFile()
    {
        if (held)
            platform::ReplayFiles().Release(handle);
    }

    // Holds file, or returns why not (LockViolation: someone else holds it).
    std::error_code Hold(const std::filesystem::path& file, bool create)
    {
        *this = HeldFile();
        std::error_code error = platform::ReplayFiles().Hold(file, create, handle);
        held = !error;
        return error;
    }
    bool IsFile(const std::filesystem::path& file) const
    {
        return held && platform::ReplayFiles().IsHeldFile(handle, file);
    }
    bool IsOwnFile() const { return held && platform::ReplayFiles().IsOwnFile(handle); }

private:
    platform::FileHandle handle = 0;
    bool held = false;
};

std::atomic<std::chrono::milliseconds::rep> folderLockWaitMs{std::chrono::milliseconds(std::chrono::seconds(30)).count()};
constexpr std::chrono::milliseconds kFolderLockPause{20};

// The replays folder's lock: its lock file, held, and removed again before it is released, so
// that the player's folder keeps no file of ours between replies. A lock file this user does not
// own is held but never removed.
class FolderLock {
public:
    explicit FolderLock(const std::filesystem::path& replaysFolder)
        : file(replaysFolder / Native(kFolderLockName))
    {
    }
    ~FolderLock()
    {
        if (removeOnRelease)
            platform::ReplayFiles().RemoveFile(file);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock, waiting up to patience while another live open holds it (LockViolation
    // then). A holder may have removed the file just after this one opened it: only a lock on the
    // file that still has the name counts. Any other error is final: the lock cannot be had.
    std::error_code Take(std::chrono::milliseconds patience)
    {
        const auto giveUpAt = std::chrono::steady_clock::now() + patience;
        for (;;) {
            std::error_code error = held.Hold(file, true);
            if (!error && held.IsFile(file)) {
                removeOnRelease = held.IsOwnFile();
                return {};
            }
            const bool busy = !error || platform::IsHeldElsewhere(error, file);
            if (!busy || std::chrono::steady_clock::now() >= giveUpAt)
                return busy ? platform::ReplayFileError(FileError::LockViolation) : error;
            held = HeldFile();
            std::this_thread::sleep_for(kFolderLockPause);
        }
    }

private:
    std::filesystem::path file;
    HeldFile held; // released after the destructor's body has removed the file
    bool removeOnRelease = false;
};

// Takes the folder lock for a reply. Only another game's live reply is waited for; a lock that
// cannot be had for any other reason (a folder or FIFO of that name, another user's file, a
// read-only folder, a file system without locks) leaves the reply to go on without it, as it
// would in a single game, its roll-back still checking what it removes.
std::error_code TakeForReply(FolderLock& lock)
{
    std::error_code error = lock.Take(FolderLockWait());
    if (!error || platform::Is(error, FileError::LockViolation))
        return error;
    Log(fmt::format("Replays folder not locked against other games ({} ({})); this reply goes on", error.message(),
                    static_cast<std::uint32_t>(error.value())));
    return {};
}

// Runs change with the replays folder locked against the process's other replies and, through
// TakeForReply, against other games' live ones.
template <typename Change>
ReplyResult WithFolderLocked(const std::filesystem::path& replaysFolder, Change change)
{
    std::lock_guard lock(replyFilesMutex);
    FolderLock folderLock(replaysFolder);
    if (std::error_code error = TakeForReply(folderLock))
        return Failure(ReplyStep::FolderLock, error);
    return change();
}

// [SECTION] Steps

std::uint32_t ErrorNumber(std::error_code error)
{
    return static_cast<std::uint32_t>(error.value());
}

// Writes bytes to T.tmp, flushes and closes it, then renames it to T.new, holding it all the while
// and after (in written). On failure nothing is left.
ReplyResult WriteWhole(const ReplacementNames& names, std::string_view bytes, HeldFile& written)
{
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    platform::FileHandle handle = 0;
    if (std::error_code error = files.CreateNewFile(names.temporary.writing, handle))
        return Failure(ReplyStep::CreateRepaired, error, names.repaired);
    std::error_code error = written.Hold(names.temporary.writing, false);
    if (!error)
        error = files.Write(handle, bytes);
    std::error_code closeError = files.Close(handle);
    if (!error)
        error = closeError;
    if (!error)
        error = files.RenameReplacing(names.temporary.writing, names.temporary.whole);
    if (error) {
        files.RemoveFile(names.temporary.writing);
        return Failure(ReplyStep::WriteRepaired, error, names.repaired);
    }
    return {};
}

// Moves the old file to its backup copy, never replacing one. Across volumes the copy is made
// under a temporary name, held and flushed before it is named, so a crash never leaves a part of
// it looking like a backup.
std::error_code MoveToBackup(const std::filesystem::path& oldFile, const ReplacementNames& names)
{
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    std::error_code error = files.MoveWithoutReplace(oldFile, names.backupCopy);
    if (!platform::Is(error, FileError::NotSameDevice))
        return error;
    if ((error = files.CopyToNewFile(oldFile, names.backupTemporary)))
        return error;
    HeldFile copying;
    if ((error = copying.Hold(names.backupTemporary, false))
        || (error = files.MoveWithoutReplace(names.backupTemporary, names.backupCopy))) {
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
        if (!finished)
            MoveBack();
    }
    MoveBackUnlessRepaired(const MoveBackUnlessRepaired&) = delete;
    MoveBackUnlessRepaired& operator=(const MoveBackUnlessRepaired&) = delete;

    std::error_code MoveBack()
    {
        finished = true;
        platform::ReplayFileSystem& files = platform::ReplayFiles();
        std::error_code error = files.MoveWithoutReplace(names.backupCopy, oldFile);
        files.RemoveFile(names.temporary.whole);
        return error;
    }
    void Repaired() { finished = true; }

private:
    const std::filesystem::path& oldFile;
    const ReplacementNames& names;
    bool finished = false;
};

// No earlier repaired file: the new one is already in place (step 3), so the replay was listed
// under both names for a moment, never under neither. Now the old file moves (step 4). An old
// file that has left the replays folder since the upload leaves the new repair as the replay.
ReplyResult BackUpBehindNewRepair(const std::filesystem::path& oldFile, const ReplacementNames& names,
                                  const HeldFile& written)
{
    std::error_code error = MoveToBackup(oldFile, names);
    if (!error)
        return {};
    if (platform::Is(error, FileError::FileNotFound))
        return {ReplyStep::RepairedWithoutBackup, error, oldFile};
    // Only this reply's own file goes.
    if (written.IsFile(names.repaired))
        platform::ReplayFiles().RemoveFile(names.repaired);
    return Failure(ReplyStep::MoveToBackup, error, oldFile);
}

// An earlier repaired file is listed: it stays listed while the old file moves, and is replaced
// after. An old file that has left the replays folder since the upload (another game's reply
// backed it up, or the player moved it) leaves the earlier repair as the replay.
ReplyResult BackUpThenReplaceEarlierRepair(const std::filesystem::path& oldFile, const ReplacementNames& names)
{
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    if (std::error_code error = MoveToBackup(oldFile, names)) {
        files.RemoveFile(names.temporary.whole);
        if (platform::Is(error, FileError::FileNotFound))
            return {ReplyStep::AlreadyRepaired, error, oldFile};
        return Failure(ReplyStep::MoveToBackup, error, oldFile);
    }
    MoveBackUnlessRepaired guard(oldFile, names);
    std::error_code renameError = files.RenameReplacing(names.temporary.whole, names.repaired);
    if (!renameError) {
        guard.Repaired();
        return {};
    }
    std::error_code moveBackError = guard.MoveBack();
    if (!moveBackError)
        return Failure(ReplyStep::PlaceRepaired, renameError, names.repaired);
    Log(fmt::format("Error moving old file back from backup folder: {}", ErrorNumber(moveBackError)));
    return Failure(ReplyStep::PlaceRepairedOriginalInBackup, renameError, names.repaired);
}

} // namespace

std::chrono::milliseconds FolderLockWait()
{
    return std::chrono::milliseconds(folderLockWaitMs.load());
}

void SetFolderLockWait(std::chrono::milliseconds wait)
{
    folderLockWaitMs.store(wait.count());
}

// [SECTION] Answers

std::filesystem::path BackupFolderBeside(const std::filesystem::path& replaysFolder)
{
    // A relative folder (stored as typed by an earlier version, or edited by hand) names its
    // parent only once it is absolute: "." would put the backup folder inside the replays folder.
    std::filesystem::path folder = std::filesystem::absolute(replaysFolder).lexically_normal();
    if (folder.filename().empty()) // a trailing separator
        folder = folder.parent_path();
    return folder.parent_path() / kBackupFolderName;
}

std::error_code EnsureBackupFolder(const std::filesystem::path& backupFolder)
{
    std::error_code error = platform::ReplayFiles().CreateFolder(backupFolder);
    if (!error)
        Log("Created Backup Directory");
    return platform::IsNameTaken(error) ? std::error_code() : error;
}

ReplyResult ReplaceWithRepaired(const std::filesystem::path& replaysFolder, const std::filesystem::path& oldFile,
                                const std::string& replayId, std::string_view repairedBytes)
{
    ReplacementNames names;
    if (std::error_code error = NamesFor(replaysFolder, replayId, names))
        return Failure(ReplyStep::FileNames, error);
    return WithFolderLocked(replaysFolder, [&]() -> ReplyResult {
        if (std::error_code error = EnsureBackupFolder(names.backupFolder))
            return Failure(ReplyStep::BackupFolder, error, names.backupFolder);
        HeldFile written;
        if (ReplyResult result = WriteWhole(names, repairedBytes, written); result.Failed())
            return result;
        const std::error_code placeError =
            platform::ReplayFiles().MoveWithoutReplace(names.temporary.whole, names.repaired);
        if (!placeError)
            return BackUpBehindNewRepair(oldFile, names, written);
        if (platform::IsNameTaken(placeError))
            return BackUpThenReplaceEarlierRepair(oldFile, names);
        // The name itself was refused (too long, say): nothing has moved, and nothing will.
        platform::ReplayFiles().RemoveFile(names.temporary.whole);
        return Failure(ReplyStep::PlaceRepaired, placeError, names.repaired);
    });
}

ReplyResult GiveRepairedName(const std::filesystem::path& replaysFolder, const std::filesystem::path& oldFile,
                             const std::string& replayId)
{
    std::filesystem::path target;
    if (std::error_code error = JoinInCodePage(replaysFolder, replayId + "_fixed.replay", target))
        return Failure(ReplyStep::FileNames, error);
    return WithFolderLocked(replaysFolder, [&]() -> ReplyResult {
        if (std::error_code error = platform::ReplayFiles().MoveWithoutReplace(oldFile, target))
            return Failure(ReplyStep::GiveRepairedName, error, oldFile);
        return {};
    });
}

TemporaryNames NewTemporaryNames(const std::filesystem::path& replayId, std::uint32_t processId)
{
    const std::string stem =
        fmt::format(".ravento-{:016x}-{:08x}-{:08x}.", HashOf(replayId.native()), processId, UniqueNumber());
    return {Native(stem + std::string(kWritingSuffix)), Native(stem + std::string(kWholeSuffix))};
}

bool IsTemporaryName(const std::filesystem::path& name)
{
    return FitsForm(name.native(), kNameForm) || FitsForm(name.native(), kEarlierNameForm);
}

// [SECTION] Settling leftovers

namespace {

bool IsMissing(const std::filesystem::path& path)
{
    platform::EntryKind kind = platform::EntryKind::Other;
    return !platform::ReplayFiles().QueryEntryKind(path, kind) && kind == platform::EntryKind::Missing;
}

// The temporary files in folder; error tells whether the listing failed.
std::vector<std::filesystem::path> TemporaryFilesIn(const std::filesystem::path& folder, std::error_code& error)
{
    std::vector<std::filesystem::path> names;
    error = platform::ReplayFiles().ListFolder(folder, names);
    std::erase_if(names, [](const std::filesystem::path& name) { return !IsTemporaryName(name); });
    return names;
}

// The identifier with this hash whose old file went to the backup folder and did not come back:
// the crash fell between that move and the rename of the finished temporary file.
std::optional<NativeText> IdentifierOnlyInBackup(const std::filesystem::path& replaysFolder,
                                                 const std::filesystem::path& backupFolder, std::uint64_t hash)
{
    const NativeText copySuffix = Native("_copy.replay");
    std::vector<std::filesystem::path> names; // without a backup folder no replay can be only there
    platform::ReplayFiles().ListFolder(backupFolder, names);
    for (const std::filesystem::path& name : names) {
        const NativeText& text = name.native();
        if (!EndsWith(text, copySuffix))
            continue;
        NativeText id = text.substr(0, text.size() - copySuffix.size());
        if (HashOf(id) != hash)
            continue;
        // Appended, not id + ".replay": GCC 12 at -O3 takes that operator+ for an overlapping copy.
        NativeText replayName = id;
        replayName += Native(".replay");
        if (IsMissing(replaysFolder / replayName))
            return id;
    }
    return std::nullopt;
}

void RemoveLeftover(const std::filesystem::path& file)
{
    if (!platform::ReplayFiles().RemoveFile(file))
        Log(fmt::format("Removed leftover file {}", LogText(file)));
}

// A finished T.new whose replay is only in the backup folder, and listed under no name, becomes
// its F: the crash fell between the backup move and the rename. Beside a listed F (an earlier or
// later repair, or a file planted or synced under a temporary name) it never replaces F; it goes,
// as every other leftover in the replays folder does.
void SettleReplaysFolderLeftover(const std::filesystem::path& replaysFolder, const std::filesystem::path& backupFolder,
                                 const std::filesystem::path& name)
{
    const std::filesystem::path file = replaysFolder / name;
    std::optional<NativeText> id;
    if (IsWhole(name.native()))
        id = IdentifierOnlyInBackup(replaysFolder, backupFolder, HexIn(name.native(), kHashAt, 16));
    const std::filesystem::path repaired = id ? replaysFolder / (*id + Native("_fixed.replay")) : file;
    if (id && IsMissing(repaired) && !platform::ReplayFiles().MoveWithoutReplace(file, repaired))
        Log(fmt::format("Installed leftover repair {} as {}", LogText(file), LogText(repaired)));
    else
        RemoveLeftover(file);
}

} // namespace

std::error_code SettleLeftovers(const std::filesystem::path& replaysFolder)
{
    const std::filesystem::path backupFolder = BackupFolderBeside(replaysFolder);
    std::lock_guard lock(replyFilesMutex);
    // Settling can wait for a later reply: it never waits for another process, and goes on
    // without a lock that no process holds but that cannot be had (what a live reply writes, it
    // holds, and that is left alone below).
    FolderLock folderLock(replaysFolder);
    if (std::error_code error = folderLock.Take(std::chrono::milliseconds(0));
        platform::Is(error, FileError::LockViolation))
        return error;

    // A file someone holds is being written by a live reply, of this process or another (one
    // with a sibling replays folder shares the backup folder); only the others are leftovers. In
    // the backup folder a reply only ever leaves a copy on its way in (".tmp").
    std::error_code ignored; // a missing backup folder holds nothing to settle
    for (const std::filesystem::path& name : TemporaryFilesIn(backupFolder, ignored)) {
        HeldFile leftover;
        if (!IsWhole(name.native()) && !leftover.Hold(backupFolder / name, false))
            RemoveLeftover(backupFolder / name);
    }
    std::error_code listingError;
    for (const std::filesystem::path& name : TemporaryFilesIn(replaysFolder, listingError)) {
        HeldFile leftover;
        if (!leftover.Hold(replaysFolder / name, false))
            SettleReplaysFolderLeftover(replaysFolder, backupFolder, name);
    }
    return listingError;
}

} // namespace plugin
