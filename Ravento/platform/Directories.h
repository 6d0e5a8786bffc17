// Status queries of directories. Creating one is a change to the replays folder's surroundings:
// ReplayFileSystem::CreateFolder.
#pragma once

#include <filesystem>
#include <system_error>

namespace platform {

enum class EntryKind {
    Missing,
    Directory,
    Other, // a file, device or anything else that is not a directory
};

// What path names, following links. The not-found conditions give EntryKind::Missing and no
// error: Windows errors 2, 3, 53, 64, 123 and 267 (POSIX: ENOENT and ENOTDIR, which are 2 and 3).
// Any other failure (access denied, for one) is returned as the seam's file errors are
// (ReplayFiles.h).
std::error_code QueryEntryKind(const std::filesystem::path& path, EntryKind& kind);

} // namespace platform
