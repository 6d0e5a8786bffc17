// File operations of the repair pipeline: finding a replay by its exact name, and the changes it
// makes to the replays folder (moves that never replace, a file written whole or not at all).
//
// Errors of ReplayFileSystem carry Windows error numbers on every platform, because the log
// shows "the platform's last-error code" and players and tests read the same numbers everywhere:
// 2 source missing, 3 folder missing, 5 access denied, 80 file exists, 112 disk full,
// 183 target exists. Windows returns GetLastError() as it is; POSIX maps errno once, in
// posix/ReplayFiles.cpp (an errno without a Windows counterpart becomes 0x20000000 + errno).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace platform {

// True when name can only ever name one entry directly inside a folder: not empty, not "." or
// "..", no "/" or "\\" and no NUL; on Windows also none of <>:"|?* and no control character.
bool IsSingleEntryName(const std::filesystem::path& name);

// Looks for the entry of folder whose on-disk name is exactly name (same characters, same case),
// with one query instead of a listing. Only a regular file, or a link to one, counts: a FIFO,
// socket, device or directory of that name would block or mislead whoever opens it for the
// upload. The type comes from the same query that finds the name (POSIX: stat, following
// links; Windows: FindFirstFileW's attributes, and for a reparse point, a symbolic link or a
// cloud placeholder, what it leads to). A name that fails IsSingleEntryName, or is too long for
// the file system, is never found. Errors, with found left false: folder empty, missing, not a
// folder, or not readable (errno or GetLastError, as a listing would fail).
std::error_code FindExactEntry(const std::filesystem::path& folder, const std::filesystem::path& name, bool& found);

// One open output file: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;

// The operations that change the replays folder. The platform's implementation is the default;
// tests install a subclass that makes a chosen call fail (a move with 183, a write part way).
class ReplayFileSystem {
public:
    virtual ~ReplayFileSystem();

    // Moves from to to, never replacing an existing to, copying when the two lie on different
    // volumes (Windows: MoveFileExW with MOVEFILE_COPY_ALLOWED only). On Windows this and
    // RenameReplacing wait up to about 1.5 s for a file another process holds.
    virtual std::error_code MoveWithoutReplace(const std::filesystem::path& from, const std::filesystem::path& to);
    // Creates file for writing; fails with 80 when it exists. Others may read and write it
    // while it is open.
    virtual std::error_code CreateNewFile(const std::filesystem::path& file, FileHandle& handle);
    // Writes all of bytes, or fails.
    virtual std::error_code Write(FileHandle handle, std::string_view bytes);
    // Flushes to disk and closes; the handle is released even when this fails.
    virtual std::error_code Close(FileHandle handle);
    // Renames from to to within one folder, replacing a file named to.
    virtual std::error_code RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to);
    virtual std::error_code RemoveFile(const std::filesystem::path& file);
};

// The error a ReplayFileSystem reports for this Windows error number (for test doubles).
std::error_code ReplayFileError(int windowsCode);

// The operations in use.
ReplayFileSystem& ReplayFiles();
// Puts replacement in use; null restores the platform's own. For tests.
void InstallReplayFileSystem(ReplayFileSystem* replacement);

} // namespace platform
