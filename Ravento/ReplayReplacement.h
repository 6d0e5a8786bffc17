// The repaired-replay write: how the service's answer changes the replays folder, in one place.
//
// What it guarantees. Whatever fails and wherever the process dies, a replay stays listed in the
// replays folder as "{id}.replay" or as a complete "{id}_fixed.replay", and its original bytes
// stay in the replays folder or in the backup folder. A repaired file is the whole body the
// service sent, never a part. Replies are handled one at a time within a process (one lock, which
// the game thread never takes); temporary files carry their process's id, so no process settles
// what another live process is writing.
//
// The backup folder is "OV_Ravento_BackupReplays" beside the replays folder as it is named:
// "C:\Games\Demos" gives "C:\Games\OV_Ravento_BackupReplays" even when "Demos" is a link to
// somewhere else (the name is worked out as text, as Windows resolves "..").
//
// Temporary names: ".ravento-<hash>-<process>-<number>.tmp" while bytes are written, ".new" once
// they are all written and flushed: the identifier's 64-bit FNV-1a hash and the process id and a
// number unique in it, all in lower-case hex. The length is fixed (any "{id}_fixed.replay" that
// fits the file system's name limit can be written), no game or other tool makes such names, and
// they never end in ".replay", so the game never lists a half-written file.
//
// A 200 answer, step by step, with what a crash after each step leaves and what the first reply of
// the next load does with it ("settle"). R is the replay, F its earlier "_fixed" file if any,
// T the temporary file in the replays folder, C the copy in the backup folder.
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
//   3. move R to C (never replacing)            | F, C, T.new                      | T.new becomes F
//   4. rename T.new over F                      | new F, C: done                   | -
//
// Moving R to C across volumes is itself three steps: copy R to C.tmp in the backup folder and
// flush it (a crash leaves C.tmp: removed), rename C.tmp to C never replacing (a crash leaves R
// and a complete C: R's next repair fails with 183, as for any earlier backup), remove R.
//
// Roll-back: a failed move of R takes the new F out again (without F) or removes T.new (with F);
// a failed rename over F moves R back from the backup folder (also when something throws).
//
// Settle removes a temporary file only when its process is gone, is this very process (whose
// replies are then all finished, since settling takes the same lock), or the file is older than
// any transfer can be; and it turns T.new into F only when R is in the backup folder and not in
// the replays folder, which only step 3 "with F" leaves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace plugin {

// The backup folder beside replaysFolder (see above).
std::filesystem::path BackupFolderBeside(const std::filesystem::path& replaysFolder);

// The answer 200: replaces oldFile, the replay identified by replayId in demos, with
// repairedBytes, and keeps oldFile as "{id}_copy.replay" in the backup folder. Logs what went
// wrong, if anything, and returns it in a few words with its code ("" when all went well). Throws
// only for an identifier or folder the code page cannot hold, and then before anything has changed.
std::string ReplaceWithRepaired(const std::filesystem::path& demos, const std::filesystem::path& oldFile,
                                const std::string& replayId, std::string_view repairedBytes);

// The answer 400: oldFile keeps its bytes under the repaired name, so it is not sent again. An
// existing file of that name is not replaced. Returns why the rename failed, or "".
std::string GiveRepairedName(const std::filesystem::path& demos, const std::filesystem::path& oldFile,
                             const std::string& replayId);

// Settles what a crash left in demos and its backup folder (see above). Never throws a file-system
// error; what cannot be settled stays for the next load. False when demos could not be listed.
bool SettleLeftovers(const std::filesystem::path& demos);

// The temporary names a 200 for replayId uses in the process with this id (for tests that lay out
// what a crash left).
struct TemporaryNames {
    std::filesystem::path writing; // ".tmp": possibly incomplete
    std::filesystem::path whole; // ".new": complete and flushed
};
TemporaryNames TemporaryNamesFor(const std::filesystem::path& replayId, std::uint32_t processId);

// Whether name has one of the temporary forms above.
bool IsTemporaryName(const std::filesystem::path& name);

} // namespace plugin
