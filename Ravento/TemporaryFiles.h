// The temporary files a 200 reply writes in the replays folder before it renames them into
// place, and the settling of the ones a crash left behind.
//
// A name is ".ravento-<16 hex>-<8 hex>.tmp" while the bytes are written and ".new" in place of
// ".tmp" once they are all written and flushed: the identifier's hash, then a number unique in
// the process. Its length never grows with the identifier, so any "{id}_fixed.replay" that fits
// the file system's name limit can be written; no game or other tool makes such names; and it
// does not end in ".replay", so the game never lists a half-written file.
#pragma once

#include <filesystem>

namespace plugin {

struct TemporaryNames {
    std::filesystem::path writing; // ".tmp": possibly incomplete
    std::filesystem::path whole; // ".new": complete and flushed
};

// Fresh temporary names for the replay whose identifier, as a path, is replayId.
TemporaryNames TemporaryNamesFor(const std::filesystem::path& replayId);

// Whether name has exactly one of the two forms above.
bool IsTemporaryName(const std::filesystem::path& name);

// Settles every temporary file in demos that a crash left. The old file moves to the backup
// folder only once the repaired bytes are whole, so a whole one whose replay is only in the
// backup folder (no "{id}.replay" in demos, "{id}_copy.replay" in backupFolder) becomes
// "{id}_fixed.replay". Every other one is removed. Never throws a file-system error; what cannot
// be settled stays for the next load. False when demos could not be listed.
bool SettleStaleTemporaryFiles(const std::filesystem::path& demos, const std::filesystem::path& backupFolder);

} // namespace plugin
