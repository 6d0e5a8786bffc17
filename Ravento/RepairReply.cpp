// Reply handling: what the repair service's answer does, by its status. The file work is
// ReplayReplacement's.
#include <string_view>

#include <fmt/format.h>

#include "ModuleConsole.h"
#include "Ravento.h"
#include "ReplayReplacement.h"

using namespace plugin;

namespace {

constexpr int kRepaired = 200;
constexpr int kCannotRepair = 400;
constexpr int kRateLimited = 429;

void Log(std::string line)
{
    moduleConsole->log(std::move(line));
}

ReplyResult NoReplaysFolder()
{
    return Failure(ReplyStep::ReplaysFolder, AnswerError::NoReplaysFolder);
}

} // namespace

// The first reply of a load that can list the replays folder settles what a crash left there,
// off the game thread.
void Ravento::SettleLeftoversOnce(const std::filesystem::path& replaysFolder)
{
    if (!leftoversSettled.load() && !replaysFolder.empty() && !SettleLeftovers(replaysFolder))
        leftoversSettled.store(true);
}

void Ravento::OnRepairReply(const std::filesystem::path& replaysFolder, const std::filesystem::path& replayPath,
                            const std::string& replayId, int status, const char* data, std::size_t size,
                            RepairHistory::Upload upload)
{
    // The settings window's row for this upload ends here, whatever happens below.
    RepairOutcome outcome(repairs, upload, status, replayId);
    outcome.result = ActOnRepairReply(replaysFolder, replayPath, replayId, status, data, size);
    LogReplyResult(replayId, outcome.result);
}

// replaysFolder is the folder the replay was found in when it was sent: a folder the player
// chose since then holds neither this replay nor its backup folder.
ReplyResult Ravento::ActOnRepairReply(const std::filesystem::path& replaysFolder,
                                      const std::filesystem::path& replayPath, const std::string& replayId, int status,
                                      const char* data, std::size_t size)
{
    SettleLeftoversOnce(replaysFolder);

    if (status == kRateLimited) {
        rateLimitHit = true;
        // The notice is there to be seen: a second refusal must not close the window again.
        if (ClaimWindowOpening())
            cvarManager->executeCommand(ToggleMenuCommand(), false);
        return {};
    }
    rateLimitHit = false;

    if (status == kCannotRepair) {
        // Without a folder the repaired name would point at the root of the file system.
        ReplyResult result =
            replaysFolder.empty() ? NoReplaysFolder() : GiveRepairedName(replaysFolder, replayPath, replayId);
        Log(fmt::format("DataSize {}", size));
        return result;
    }
    Log(fmt::format("Post result({})", status));
    // Any other status is a failure in itself: the service answered it, or nothing did (0).
    if (status != kRepaired)
        return Failure(ReplyStep::Transfer, {status, ServiceErrorCategory()});
    if (data == nullptr && size != 0)
        return Failure(ReplyStep::Answer, AnswerError::BytesMissing);
    // An empty body repairs nothing: kept, the original would make way for an empty replay.
    if (size == 0) {
        return Failure(ReplyStep::Answer, AnswerError::Empty);
    }
    // Relative to nothing, the names below would land in the host's working folder.
    if (replaysFolder.empty())
        return NoReplaysFolder();
    return ReplaceWithRepaired(replaysFolder, replayPath, replayId, std::string_view(data, size));
}
