// Reply handling: what the repair service's answer does to the replay's files and to the
// rate-limit notice.
#include <cstdint>
#include <string_view>

#include <fmt/format.h>

#include "FileSystem.h"
#include "ModuleConsole.h"
#include "Ravento.h"
#include "TemporaryFiles.h"
#include "WholeFileWrite.h"
#include "platform/ReplayFiles.h"

using namespace plugin;

namespace {

constexpr int kRepaired = 200;
constexpr int kCannotRepair = 400;
constexpr int kRateLimited = 429;
// The backup folder as the replays folder reaches it: its sibling, with the ".." unresolved.
std::filesystem::path BackupFolderBeside(const std::filesystem::path& demos)
{
    return demos / ".." / kBackupFolderName;
}

void Log(std::string line)
{
    moduleConsole->log(std::move(line));
}

// The platform's error number as the log shows it (an unsigned decimal).
std::uint32_t ErrorNumber(std::error_code error)
{
    return static_cast<std::uint32_t>(error.value());
}

std::string Reason(std::error_code error)
{
    return fmt::format("{} ({})", error.message(), ErrorNumber(error));
}

// A move that did not replace because its target exists (Windows' 183, or 80 for a file).
bool NamesExistingFile(std::error_code error)
{
    return error.value() == 183 || error.value() == 80;
}

// The service could not repair the replay: it keeps its content under the repaired name, so it
// is not sent again. An existing file of that name is not replaced.
void GiveRepairedName(const std::filesystem::path& demos, const std::filesystem::path& oldFile,
                      const std::string& replayId)
{
    // Without a folder the name below would point at the root of the file system.
    if (demos.empty())
        return;
    std::filesystem::path target = PathFromCodePage(fmt::format("{}/{}_fixed.replay", CodePageText(demos), replayId));
    platform::ReplayFiles().MoveWithoutReplace(oldFile, target);
}

void LogWriteFailure(const std::filesystem::path& repaired, const WholeFileWrite& result)
{
    if (result.failedAt == WholeFileWrite::Step::Create)
        return Log(fmt::format("Failed to open output path at {}", LogText(repaired)));
    Log(fmt::format("Failed to write repaired file {}: {}", LogText(repaired), Reason(result.error)));
}

// Once the old file is in the backup folder it comes back under its own name unless the
// repaired file took its place, even when something throws on the way (a log line that cannot
// be formatted, say).
class MoveBackUnlessRepaired {
public:
    MoveBackUnlessRepaired(const std::filesystem::path& oldFile, const std::filesystem::path& backupCopy,
                           const std::filesystem::path& temporary)
        : oldFile(oldFile), backupCopy(backupCopy), temporary(temporary)
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
        std::error_code error = files.MoveWithoutReplace(backupCopy, oldFile);
        files.RemoveFile(temporary);
        return error;
    }
    void Repaired() { settled = true; }

private:
    const std::filesystem::path& oldFile;
    const std::filesystem::path& backupCopy;
    const std::filesystem::path& temporary;
    bool settled = false;
};

// Writes the repaired bytes to a temporary file and flushes them; only then moves the old file
// into the backup folder and puts the repaired file in place, in whichever order keeps the
// replay listed. Whatever fails or wherever the process dies, the replay stays listed as
// "{id}.replay" or as a complete "{id}_fixed.replay" (what a crash leaves is settled by the next
// load, TemporaryFiles.h).
void StoreRepairedReplay(const std::filesystem::path& demos, const std::filesystem::path& oldFile,
                         const std::string& replayId, std::string_view repairedBytes)
{
    // Every name is made before anything is written, so a conversion error changes nothing.
    std::string backupFolder = CodePageText(BackupFolderBeside(demos));
    std::filesystem::path backupCopy = PathFromCodePage(fmt::format("{}/{}_copy.replay", backupFolder, replayId));
    std::filesystem::path repaired = demos / PathFromCodePage(fmt::format("{}_fixed.replay", replayId));
    TemporaryNames names = TemporaryNamesFor(PathFromCodePage(replayId));
    std::filesystem::path temporary = demos / names.whole;

    WholeFileWrite written = WriteWholeFile(demos / names.writing, temporary, repairedBytes);
    if (written.failedAt != WholeFileWrite::Step::Done)
        return LogWriteFailure(repaired, written);

    platform::ReplayFileSystem& files = platform::ReplayFiles();
    // With no repaired file listed yet, the new one goes into place before the old file moves:
    // for that moment the replay is listed under both names, never under neither.
    const std::error_code placeError = files.MoveWithoutReplace(temporary, repaired);
    if (!placeError) {
        if (std::error_code error = files.MoveWithoutReplace(oldFile, backupCopy)) {
            files.RemoveFile(repaired);
            return Log(fmt::format("Error moving old file to backup folder: {}", ErrorNumber(error)));
        }
        return;
    }
    // The name itself was refused (too long, say): nothing has moved, and nothing will.
    if (!NamesExistingFile(placeError)) {
        files.RemoveFile(temporary);
        return Log(
            fmt::format("Failed to move repaired file into place at {}: {}", LogText(repaired), Reason(placeError)));
    }
    // A repaired file is already listed: it stays listed while the old file moves, and is
    // replaced after.
    if (std::error_code error = files.MoveWithoutReplace(oldFile, backupCopy)) {
        files.RemoveFile(temporary);
        return Log(fmt::format("Error moving old file to backup folder: {}", ErrorNumber(error)));
    }
    MoveBackUnlessRepaired guard(oldFile, backupCopy, temporary);
    std::error_code renameError = files.RenameReplacing(temporary, repaired);
    if (!renameError)
        return guard.Repaired();
    std::error_code moveBackError = guard.MoveBack();
    Log(fmt::format("Failed to move repaired file into place at {}: {}", LogText(repaired), Reason(renameError)));
    if (moveBackError)
        Log(fmt::format("Error moving old file back from backup folder: {}", ErrorNumber(moveBackError)));
}

} // namespace

// The first reply of a load that can list the replays folder settles what a crash left there.
// Every reply passes here before it writes, and waits while the settling runs, so the settling
// never touches a temporary file this load is writing.
void Ravento::SettleStaleTemporaryFilesOnce(const std::filesystem::path& demos)
{
    std::lock_guard lock(staleTemporaryFilesMutex);
    if (!staleTemporaryFilesSettled && !demos.empty())
        staleTemporaryFilesSettled = SettleStaleTemporaryFiles(demos, BackupFolderBeside(demos));
}

void Ravento::OnRepairReply(const std::filesystem::path& replayPath, const std::string& replayId, int status,
                            const char* data, std::size_t size)
{
    std::filesystem::path demos = demosFolder.Get();
    SettleStaleTemporaryFilesOnce(demos);

    if (status == kRateLimited) {
        rateLimitHit = true;
        cvarManager->executeCommand(ToggleMenuCommand(), false);
        return;
    }
    rateLimitHit = false;

    if (status == kCannotRepair) {
        GiveRepairedName(demos, replayPath, replayId);
        Log(fmt::format("DataSize {}", size));
        return;
    }
    Log(fmt::format("Post result({})", status));
    if (status != kRepaired)
        return;
    if (data == nullptr && size != 0)
        return Log(
            fmt::format("Repair reply for {} announced {} bytes but carried none; nothing written", replayId, size));
    // Relative to nothing, the names below would land in the host's working folder.
    if (demos.empty())
        return Log(fmt::format("No replays folder for the repaired replay {}; nothing written", replayId));
    StoreRepairedReplay(demos, replayPath, replayId, std::string_view(data, size));
}
