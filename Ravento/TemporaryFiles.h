// The temporary files a 200 reply writes in the replays folder before it renames them into
// place, and the settling of the ones a crash left behind.
//
// A name is ".ravento-<16 hex>-<8 hex>.tmp": the identifier's hash, then a number unique in the
// process. Its length never grows with the identifier, so any "{id}_fixed.replay" that fits the
// file system's name limit can be written; no game or other tool makes such names; and it does
// not end in ".replay", so the game never lists a half-written file.
#pragma once

#include <filesystem>

// A fresh temporary name for the replay whose identifier, as a path, is replayId.
std::filesystem::path TemporaryNameFor(const std::filesystem::path& replayId);

// Whether name has exactly the form above.
bool IsTemporaryName(const std::filesystem::path& name);

// Settles every temporary file in demos that a crash left. The repaired bytes are flushed before
// the old file moves to the backup folder, so a temporary file whose replay is only in the backup
// folder (no "{id}.replay" in demos, "{id}_copy.replay" in backupFolder) is complete: it becomes
// "{id}_fixed.replay". Every other one is removed. Never throws a file-system error; what cannot
// be settled stays for the next load. False when demos could not be listed.
bool SettleStaleTemporaryFiles(const std::filesystem::path& demos, const std::filesystem::path& backupFolder);
