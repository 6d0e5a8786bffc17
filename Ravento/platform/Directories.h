// Status queries and one-level creation of directories.
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
// error: Windows errors 2, 3, 53, 64, 123 and 267; POSIX ENOENT and ENOTDIR. Any other failure
// (access denied, for one) is returned.
std::error_code QueryEntryKind(const std::filesystem::path& path, EntryKind& kind);

// Creates path, exactly one level: a missing parent is an error. An existing directory of that
// name counts as success; anything else of that name fails with "already exists" (Windows
// error 183, POSIX EEXIST).
std::error_code CreateOneDirectory(const std::filesystem::path& path);

} // namespace platform
