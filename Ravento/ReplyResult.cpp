// The words of a reply's result: its console lines and the settings window's row, in one place.
#include "ReplyResult.h"

#include <cstdint>

#include <fmt/format.h>

#include "FileSystem.h"
#include "ModuleConsole.h"
#include "ReplayReplacement.h"
#include "platform/ReplayFiles.h"

namespace plugin {

namespace {

class ServiceErrors : public std::error_category {
public:
    const char* name() const noexcept override { return "repair service"; }
    std::string message(int status) const override
    {
        if (status == 0)
            return "the repair service could not be reached or its answer was cut short";
        if (status == 503)
            return "the service is busy (503)";
        if (status >= 500)
            return fmt::format("the service failed ({})", status);
        return fmt::format("the service answered {}", status);
    }
};

class AnswerErrors : public std::error_category {
public:
    const char* name() const noexcept override { return "repair answer"; }
    std::string message(int error) const override
    {
        switch (static_cast<AnswerError>(error)) {
        case AnswerError::Empty:
            return "the answer was empty";
        case AnswerError::BytesMissing:
            return "the answer announced bytes but carried none";
        default:
            return "no replays folder is set";
        }
    }
};

// "Access is denied. (5)": the system's words and the number players and logs quote.
std::string Reason(std::error_code error)
{
    return fmt::format("{} ({})", error.message(), static_cast<std::uint32_t>(error.value()));
}

// Why a step failed, for the row after "failed: " and for the console lines that quote it.
std::string FailureWords(const ReplyResult& result)
{
    switch (result.step) {
    case ReplyStep::FolderLock: // only another game's live hold stops a reply
        return "another game process kept the replays folder busy";
    case ReplyStep::BackupFolder:
    case ReplyStep::MoveToBackup:
        return fmt::format("the original could not be moved to the backup folder ({})",
                           static_cast<std::uint32_t>(result.code.value()));
    case ReplyStep::CreateRepaired:
    case ReplyStep::WriteRepaired:
    case ReplyStep::PlaceRepaired:
        return fmt::format("the repaired file could not be written: {}", Reason(result.code));
    case ReplyStep::PlaceRepairedOriginalInBackup:
        return fmt::format("the repaired file could not be written: {}; the original is in {}", Reason(result.code),
                           kBackupFolderName);
    case ReplyStep::GiveRepairedName:
        return fmt::format("it could not be renamed: {}", Reason(result.code));
    case ReplyStep::FileNames:
        return fmt::format("its file names do not fit the file system's code page: {}", Reason(result.code));
    case ReplyStep::Stopped:
        return "stopped by an error (see the console)";
    default: // Transfer, Answer, ReplaysFolder: their categories word them
        return result.code.message();
    }
}

void Log(std::string line)
{
    moduleConsole->log(std::move(line));
}

} // namespace

const std::error_category& ServiceErrorCategory()
{
    static const ServiceErrors category;
    return category;
}

const std::error_category& AnswerErrorCategory()
{
    static const AnswerErrors category;
    return category;
}

std::error_code make_error_code(AnswerError error)
{
    return {static_cast<int>(error), AnswerErrorCategory()};
}

void LogReplyResult(const std::string& replayId, const ReplyResult& result)
{
    switch (result.step) {
    case ReplyStep::RepairedWithoutBackup:
        return Log(fmt::format("Repaired {}: its original had left the replays folder before its backup", replayId));
    case ReplyStep::AlreadyRepaired:
        return Log(fmt::format("Replay {0} is already repaired: its original had left the replays folder and "
                               "{0}_fixed.replay is in place; this answer was not written",
                               replayId));
    case ReplyStep::Answer:
    case ReplyStep::ReplaysFolder:
    case ReplyStep::FileNames:
        return Log(fmt::format("Repair reply for {}: {}; nothing written", replayId, FailureWords(result)));
    case ReplyStep::FolderLock:
        return Log(fmt::format("Replay {} left as it was: {}", replayId, FailureWords(result)));
    case ReplyStep::BackupFolder:
    case ReplyStep::MoveToBackup:
        return Log(
            fmt::format("Error moving old file to backup folder: {}", static_cast<std::uint32_t>(result.code.value())));
    case ReplyStep::CreateRepaired:
    case ReplyStep::PlaceRepaired:
    case ReplyStep::PlaceRepairedOriginalInBackup:
        Log(fmt::format("Failed to open output path at {}", LogText(result.file)));
        return Log(fmt::format("Repaired file refused: {}", Reason(result.code)));
    case ReplyStep::WriteRepaired:
        return Log(fmt::format("Failed to write repaired file {}: {}", LogText(result.file), Reason(result.code)));
    default: // Done, Transfer, GiveRepairedName, Stopped: the status line or the error's own line tells
        return;
    }
}

std::string OutcomeWords(const std::string& replayId, int status, const ReplyResult& result)
{
    switch (result.step) {
    case ReplyStep::Done:
        if (status == 429)
            return "refused: 10 uploads per 30 minutes; play it again later";
        if (status == 400)
            return fmt::format("not repairable: kept as {}_fixed, unchanged", replayId);
        return fmt::format("repaired: play {}_fixed; the original is in {}", replayId, kBackupFolderName);
    case ReplyStep::RepairedWithoutBackup:
        return fmt::format("repaired: play {}_fixed; the original had left the replays folder, so {} has no copy",
                           replayId, kBackupFolderName);
    case ReplyStep::AlreadyRepaired:
        return fmt::format("already repaired: play {}_fixed; the original had left the replays folder", replayId);
    default:
        return "failed: " + FailureWords(result);
    }
}

} // namespace plugin
