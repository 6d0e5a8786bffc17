// Reply handling: what the repair service's answer does to the replay's files and to the
// rate-limit notice.
#include <cstdint>
#include <string_view>

#include <fmt/format.h>

#include "FileSystem.h"
#include "ModuleConsole.h"
#include "Ravento.h"
#include "WholeFileWrite.h"
#include "platform/ReplayFiles.h"

namespace {

constexpr int kRepaired = 200;
constexpr int kCannotRepair = 400;
constexpr int kRateLimited = 429;

void Log(std::string line)
{
    moduleConsole->log(std::move(line));
}

// The platform's error number as the log shows it (an unsigned decimal).
std::uint32_t ErrorNumber(std::error_code error)
{
    return static_cast<std::uint32_t>(error.value());
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

void LogWriteFailure(const std::string& repairedText, const WholeFileWrite& result)
{
    using Step = WholeFileWrite::Step;
    const std::string reason = fmt::format("{} ({})", result.error.message(), ErrorNumber(result.error));
    if (result.failedAt == Step::Create)
        Log(fmt::format("Failed to open output path at {}", repairedText));
    else if (result.failedAt == Step::Rename)
        Log(fmt::format("Failed to move repaired file into place at {}: {}", repairedText, reason));
    else
        Log(fmt::format("Failed to write repaired file {}: {}", repairedText, reason));
}

// Moves the old file into the backup folder, then writes the repaired bytes beside where it
// was. The repaired file is complete or absent; when it cannot be completed the old file goes
// back under its own name, so the replay never disappears from the game's list.
void StoreRepairedReplay(const std::filesystem::path& demos, const std::filesystem::path& oldFile,
                         const std::string& replayId, std::string_view repairedBytes)
{
    // Every name is made before anything moves, so a conversion error changes nothing.
    std::string backupFolder = CodePageText(demos / ".." / kBackupFolderName);
    std::filesystem::path backupCopy = PathFromCodePage(fmt::format("{}/{}_copy.replay", backupFolder, replayId));
    std::filesystem::path repaired = demos / PathFromCodePage(fmt::format("{}_fixed.replay", replayId));
    std::string repairedText = CodePageText(repaired);

    platform::ReplayFileSystem& files = platform::ReplayFiles();
    if (std::error_code error = files.MoveWithoutReplace(oldFile, backupCopy))
        return Log(fmt::format("Error moving old file to backup folder: {}", ErrorNumber(error)));

    WholeFileWrite written = WriteWholeFile(repaired, repairedBytes);
    if (written.failedAt == WholeFileWrite::Step::Done)
        return;
    LogWriteFailure(repairedText, written);
    if (std::error_code error = files.MoveWithoutReplace(backupCopy, oldFile))
        Log(fmt::format("Error moving old file back from backup folder: {}", ErrorNumber(error)));
}

} // namespace

void Ravento::OnRepairReply(const std::filesystem::path& replayPath, const std::string& replayId, int status,
                            const char* data, std::size_t size)
{
    if (status == kRateLimited) {
        rateLimitHit = true;
        cvarManager->executeCommand(ToggleMenuCommand(), false);
        return;
    }
    rateLimitHit = false;

    std::filesystem::path demos = demosFolder.Get();
    if (status == kCannotRepair) {
        GiveRepairedName(demos, replayPath, replayId);
        Log(fmt::format("DataSize {}", size));
        return;
    }
    Log(fmt::format("Post result({})", status));
    if (status != kRepaired)
        return;
    if (data == nullptr && size != 0)
        return Log(fmt::format("Repair reply for {} announced {} bytes but carried none; nothing written", replayId, size));
    // Relative to nothing, the names below would land in the host's working folder.
    if (demos.empty())
        return Log(fmt::format("No replays folder for the repaired replay {}; nothing written", replayId));
    StoreRepairedReplay(demos, replayPath, replayId, std::string_view(data, size));
}
