// What one reply of the repair service came to, as one value: the step that decided it and that
// step's code. The reply handling passes it up unchanged; the console lines and the settings
// window's words are made from it here, and nowhere else, so a row cannot say "failed" when the
// step that failed left the replay repaired.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

namespace plugin {

enum class ReplyStep {
    Done, // the answer did what its status asks
    // A 200 whose original had left the replays folder (moved by the player, or backed up by
    // another game's reply) before this reply could move it to the backup folder:
    RepairedWithoutBackup, // this answer's repaired file is in place
    AlreadyRepaired, // an earlier repaired file is in place; this answer was not written
    // The steps that can fail, with the category of their code:
    Transfer, // ServiceErrorCategory(): the status the host passed (0: no whole answer)
    Answer, // AnswerErrorCategory(): a 200 that carries no repair
    ReplaysFolder, // AnswerErrorCategory(): no replays folder is set
    // The seam's code-page errors (platform/CodePage.h): a name of the replay's files, or its
    // folder's, has no form in the filesystem code page. Nothing was changed.
    FileNames,
    FolderLock, // the seam's file errors (platform/ReplayFiles.h), here and below
    BackupFolder,
    CreateRepaired, // file: the repaired file
    WriteRepaired, // file: the repaired file
    PlaceRepaired, // file: the repaired file
    // The rename over an earlier repair failed, and so did the original's way back: the earlier
    // repair stays listed, the original is in the backup folder. File: the repaired file.
    PlaceRepairedOriginalInBackup,
    MoveToBackup,
    GiveRepairedName, // the answer 400's rename
    Stopped, // an error ended the handling first (the console has it); no code
};

enum class AnswerError {
    Empty = 1, // a 200 without a byte
    BytesMissing, // a size without the bytes
    NoReplaysFolder,
};

// The HTTP status of an answer that did not do what a 200, 400 or 429 does, as an error: 0 is the
// host's "no whole answer" (the service could not be reached, or the answer was cut short, over
// the host's size cap or without a stated length: the host tells the plugin none of these apart).
const std::error_category& ServiceErrorCategory();
const std::error_category& AnswerErrorCategory();
std::error_code make_error_code(AnswerError error);

struct ReplyResult {
    ReplyStep step = ReplyStep::Done;
    std::error_code code;
    std::filesystem::path file; // the file the step failed on, where the console names it

    // Whether the step failed; the two "without backup" outcomes leave a repaired replay.
    bool Failed() const { return step >= ReplyStep::Transfer; }
};

inline ReplyResult Failure(ReplyStep step, std::error_code code, std::filesystem::path file = {})
{
    return {step, code, std::move(file)};
}

// The console lines of a result (none for Done, a refused transfer or a refused rename, which the
// status lines already tell).
void LogReplyResult(const std::string& replayId, const ReplyResult& result);

// The second line of the settings window's row: what became of the upload, for the player.
std::string OutcomeWords(const std::string& replayId, int status, const ReplyResult& result);

} // namespace plugin

template <>
struct std::is_error_code_enum<plugin::AnswerError> : std::true_type {
};
