// The repaired-replay write: how the service's answer changes the replays folder, in one place.
//
// What it guarantees. Whatever fails and wherever the process dies, a replay stays listed in the
// replays folder as "{id}.replay" or as a complete "{id}_fixed.replay", and its original bytes
// stay in the replays folder or in the backup folder. A repaired file is the whole body the
// service sent, never a part. Replies change one replays folder one at a time, across threads
// (a mutex, which the game thread never takes) and across game processes (a lock on the file
// ".ravento-replies.lock" in the replays folder, which the holder removes when it is done and the
// operating system releases when a process dies; the game lists only ".replay" files). A reply
// waits for another process's reply (FolderLockWait), then changes nothing and says so.
//
// The backup folder is "OV_Ravento_BackupReplays" beside the replays folder as it is named:
// "C:\Games\Demos" gives "C:\Games\OV_Ravento_BackupReplays" even when "Demos" is a link to
// somewhere else (the name is worked out as text, as Windows resolves "..").
//
// Temporary names: ".ravento-<hash>-<process>-<number>.tmp" while bytes are written, ".new" once
// they are all written and flushed: the identifier's 64-bit FNV-1a hash, the process id and a
// number unique in it, all in lower-case hex. The length is fixed (any "{id}_fixed.replay" that
// fits the file system's name limit can be written), no game or other tool makes such names, and
// they never end in ".replay", so the game never lists a half-written file. The writer holds a
// lock on its temporary file for as long as its reply works; a temporary file that no one holds
// belongs to no live reply, whatever its process id says.
//
// A 200 answer, step by step, with what a crash after each step leaves and what the first reply of
// the next load does with it ("settle"). R is the replay ("{id}.replay", names.original's
// argument), F its repaired file ("{id}_fixed.replay", names.repaired), T the temporary file in
// the replays folder (names.temporary), C the copy in the backup folder (names.backupCopy).
// Whether there is an earlier F is not asked beforehand: the rename of step 3 never replaces, and
// finding F's name taken is what sends the reply down the "with F" rows.
//
//   step                                        | a crash leaves                  | settle
//   --------------------------------------------+---------------------------------+----------------
//   1. create the backup folder if missing      | R [F], the empty folder          | -
//   2. write T.tmp, flush, rename to T.new      | R [F], T.tmp or T.new            | remove T
//   without F:                                  |                                  |
//   3. rename T.new to F, never replacing       | R and the new F: R is uploaded   | -
//                                               | again on its next play           |
//   4. move R to C (never replacing)            | new F, C: done                   | -
//   with F:                                     |                                  |
//   3. move R to C (never replacing)            | F, C, T.new                      | remove T.new: F,
//                                               |                                  | the earlier repair,
//                                               |                                  | stays listed
//   4. rename T.new over F                      | new F, C: done                   | -
//
// Moving R to C across volumes is itself three steps: copy R to C.tmp in the backup folder and
// flush it (a crash leaves C.tmp: removed), rename C.tmp to C never replacing (a crash leaves R
// and a complete C: R's next repair fails with 183, as for any earlier backup), remove R.
//
// Roll-back: a failed move of R takes the new F out again (without F), but only the very file this
// reply placed, and only while R is still listed; with F it removes T.new. A failed rename over F
// moves R back from the backup folder (also when something throws); across volumes that move
// fails too, and R's bytes then stay in C alone, with the earlier F still listed.
//
// Settling logs each file it installs or removes; in the backup folder it only ever removes a
// ".tmp" copy, and a ".new" never replaces a listed F.
//
// An empty body is no repair: nothing is written or moved.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "ReplyResult.h"

namespace plugin {

// The backup folder for replaced replays, a sibling of the replays folder.
inline constexpr char kBackupFolderName[] = "OV_Ravento_BackupReplays";

// The backup folder beside replaysFolder (see above), made absolute against the working folder
// first. Throws std::filesystem::filesystem_error when a relative folder meets no working folder.
std::filesystem::path BackupFolderBeside(const std::filesystem::path& replaysFolder);

// Makes backupFolder when it is missing, logging "Created Backup Directory". A name already taken
// counts as there: a file of that name fails the backup move later, with its own code.
std::error_code EnsureBackupFolder(const std::filesystem::path& backupFolder);

// How long a reply waits for another game's reply to leave the replays folder: 30 s, long enough
// for a large repair on a slow disk; the wait ends at once when the holder does. The tests shorten
// it to see a lasting hold give up without waiting it out.
std::chrono::milliseconds FolderLockWait();
void SetFolderLockWait(std::chrono::milliseconds wait);

// The answer 200: replaces oldFile, the replay identified by replayId in replaysFolder, with
// repairedBytes, and keeps oldFile as "{id}_copy.replay" in the backup folder. Returns what came
// of it (ReplyResult.h); a failed step has changed nothing that it leaves listed. Throws only for
// an identifier or folder the code page cannot hold, and then before anything has changed.
ReplyResult ReplaceWithRepaired(const std::filesystem::path& replaysFolder, const std::filesystem::path& oldFile,
                                const std::string& replayId, std::string_view repairedBytes);

// The answer 400: oldFile keeps its bytes under the repaired name, so it is not sent again. An
// existing file of that name is not replaced. Returns what came of it, as above.
ReplyResult GiveRepairedName(const std::filesystem::path& replaysFolder, const std::filesystem::path& oldFile,
                             const std::string& replayId);

// Settles what a crash left in replaysFolder and its backup folder (see above). Throws only as
// BackupFolderBeside does; what cannot be settled stays for the next load. Fails when replaysFolder
// could not be listed, or another process held it at that moment (LockViolation: settling never
// waits).
std::error_code SettleLeftovers(const std::filesystem::path& replaysFolder);

// The temporary names of one 200 for replayId in the process with this id; each call gives new
// ones (for tests that lay out what a crash left).
struct TemporaryNames {
    std::filesystem::path writing; // ".tmp": possibly incomplete
    std::filesystem::path whole; // ".new": complete and flushed
};
TemporaryNames NewTemporaryNames(const std::filesystem::path& replayId, std::uint32_t processId);

// Whether name has one of the temporary forms above, or the shorter form without the number that
// earlier versions used.
bool IsTemporaryName(const std::filesystem::path& name);

} // namespace plugin
