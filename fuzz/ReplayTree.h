// A game folder in a temporary directory for the plugin's fuzz targets:
//   <root>/TAGame/Demos, and beside it <root>/TAGame/OV_Ravento_BackupReplays
// laid out anew for each input, and a snapshot of everything below the root to compare states.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "support/TempDir.h"

class ReplayTree {
public:
    // Path below the root -> the file's bytes, or "<folder>" for a folder.
    using Snapshot = std::map<std::string, std::string>;

    // Empties the root and creates the replays folder, and the backup folder when asked.
    void Reset(bool withBackupFolder);

    const std::filesystem::path& Root() const { return dir.Path(); }
    std::filesystem::path Demos() const { return Root() / "TAGame" / "Demos"; }
    std::filesystem::path Backups() const { return Root() / "TAGame" / "OV_Ravento_BackupReplays"; }

    Snapshot Take() const;

private:
    testing_support::TempDir dir;
};

// Writes a whole file; false when it cannot be created (a name too long for the file system).
bool WriteFile(const std::filesystem::path& file, std::string_view bytes);
// The whole file, or nothing when there is no regular file there.
std::optional<std::string> ReadFile(const std::filesystem::path& file);
// True when "<name>" can be one entry of a folder here: no separator, no NUL, not "." or "..",
// and short enough for the file system.
bool FitsOneEntry(std::string_view name);
