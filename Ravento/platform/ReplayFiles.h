// File operations of the repair pipeline: finding a replay by its exact name, and the changes it
// makes to the replays folder (moves that never replace, a file written whole or not at all).
//
// Every error the seam's file calls report (ReplayFileSystem, the lookups included) is a
// Windows error number in FileErrorCategory(), on every platform, because the log shows "the
// platform's last-error code" and players and tests read the same numbers everywhere (FileError
// names the ones the plugin tells apart). Windows takes GetLastError() as it is; POSIX maps errno
// once, in posix/SystemError.cpp (an errno without a Windows counterpart becomes
// 0x20000000 + errno).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform {

enum class FileError : int {
    FileNotFound = 2, // the source is missing
    PathNotFound = 3, // a folder on the way is missing
    AccessDenied = 5,
    NotSameDevice = 17, // a move that would cross volumes
    SharingViolation = 32, // another process has the file open without sharing it
    LockViolation = 33,
    FileExists = 80, // a new file's name is taken
    DiskFull = 112,
    AlreadyExists = 183, // a move's or a folder's name is taken
    NameTooLong = 206, // a name or path longer than the file system takes
    NotRegularFile = 1920, // ERROR_CANT_ACCESS_FILE: a directory, FIFO or device where a file is held
};

// The category of the seam's file errors, named "windows": its values are Windows error numbers
// and its messages the texts Windows gives them.
const std::error_category& FileErrorCategory();
// Whether error is that FileError: the number in FileErrorCategory(), never an errno or another
// category's code that happens to carry the same number.
bool Is(const std::error_code& error, FileError which);
// Whether a move or a creation failed only because its target name is taken (80 or 183).
bool IsNameTaken(const std::error_code& error);
// The error the seam reports for this Windows error number (for test doubles).
std::error_code ReplayFileError(int windowsCode);
std::error_code ReplayFileError(FileError which);

// True when name can only ever name one entry directly inside a folder: not empty, not "." or
// "..", no "/" or "\\" and no NUL; on Windows also none of <>:"|?* and no control character.
bool IsSingleEntryName(const std::filesystem::path& name);

enum class EntryKind {
    Missing,
    Directory,
    Other, // a file, device or anything else that is not a directory
};

// One open output file: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;

// Every file call the plugin makes: the lookups, and the operations that change the replays
// folder. The platform's implementation is the default; tests install a subclass that makes a
// chosen call fail (a move with 183, a write part way).
class ReplayFileSystem {
public:
    virtual ~ReplayFileSystem();

    // Looks for the entry of folder whose on-disk name is exactly name (same characters, same case),
    // with one query instead of a listing. Only a regular file, or a link to one, counts: a FIFO,
    // socket, device or directory of that name would block or mislead whoever opens it for the
    // upload. The type comes from the same query that finds the name (POSIX: stat, following
    // links; Windows: FindFirstFileW's attributes, and for a reparse point, a symbolic link or a
    // cloud placeholder, what it leads to). A name that fails IsSingleEntryName, or is too long for
    // the file system, is never found. Errors, with found left false: folder empty, missing, not a
    // folder, or not readable, as a listing would fail.
    virtual std::error_code FindExactEntry(const std::filesystem::path& folder, const std::filesystem::path& name,
                                           bool& found);
    // What path names, following links. The not-found conditions give EntryKind::Missing and no
    // error: Windows errors 2, 3, 53, 64, 123 and 267 (POSIX: ENOENT and ENOTDIR, which are 2
    // and 3). Any other failure (access denied, for one) is returned.
    virtual std::error_code QueryEntryKind(const std::filesystem::path& path, EntryKind& kind);
    // The names of folder's entries, "." and ".." left out, in the order the system lists them.
    virtual std::error_code ListFolder(const std::filesystem::path& folder, std::vector<std::filesystem::path>& names);

    // Renames from to to, never replacing an existing to. Fails with NotSameDevice when the two
    // lie on different volumes, or (POSIX) from is a symbolic link and to is in another folder:
    // the caller copies instead, so that a crash never leaves a part and a backup is never a link.
    // On Windows this and RenameReplacing wait up to about 1.5 s for a file another process
    // holds.
    virtual std::error_code MoveWithoutReplace(const std::filesystem::path& from, const std::filesystem::path& to);
    // Creates to (which must not exist: FileExists) with the bytes of from, flushed to disk; on
    // failure nothing is left under to.
    virtual std::error_code CopyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to);
    // Creates one folder (its parent must exist); AlreadyExists when anything has that name.
    virtual std::error_code CreateFolder(const std::filesystem::path& folder);
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

    // Opens file and locks it for this open alone, without waiting: LockViolation while another
    // open of it, in this process or another, holds the lock. With create a missing file is made
    // (a lock file); without it a missing file is FileNotFound and anything but a regular file
    // NotRegularFile. The lock goes with Release, or with the process however it ends.
    virtual std::error_code Hold(const std::filesystem::path& file, bool create, FileHandle& held);
    // Whether file names the very file that held has open, not merely one of the same name.
    virtual bool IsHeldFile(FileHandle held, const std::filesystem::path& file);
    // Whether the file that held has open is this user's own: one another account made is never
    // removed (POSIX: its owner; Windows: every file this process can hold counts).
    virtual bool IsOwnFile(FileHandle held);
    // Closes a handle from Hold, and so releases its lock.
    virtual void Release(FileHandle held);
};

// Whether Hold's error for file means that another live open holds it, so that waiting can help:
// LockViolation; on Windows also AccessDenied for a file whose removal is pending. Anything else
// (no permission, a read-only folder, not a regular file, no lock support) never passes.
bool IsHeldElsewhere(const std::error_code& holdError, const std::filesystem::path& file);

// The operations in use.
ReplayFileSystem& ReplayFiles();
// Puts replacement in use; null restores the platform's own. For tests.
void InstallReplayFileSystem(ReplayFileSystem* replacement);

} // namespace platform
