// POSIX: exact-name lookup with one stat, moves with renameat2(RENAME_NOREPLACE). Failures
// reach the caller as Windows error numbers through posix/SystemError.h.
//
// Index: [SECTION] Writing, copying and linking, [SECTION] Lookup, [SECTION] ReplayFileSystem,
//        [SECTION] Held files
#include "platform/ReplayFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/SystemError.h"
#include "platform/posix/FaultPoint.h"
#include "platform/posix/SystemError.h"

namespace platform {

// [SECTION] Writing, copying and linking

namespace {

std::error_code WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t count = RAVENTO_FAULT("ravento/replay/write", ::write(fd, bytes.data(), bytes.size()));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return LastSystemError();
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return {};
}

// Flushed before closing, so a file renamed into place afterwards is complete on disk too.
std::error_code FlushAndClose(int fd)
{
    std::error_code error;
    if (RAVENTO_FAULT("ravento/replay/fsync", ::fsync(fd)) != 0)
        error = LastSystemError();
    if (RAVENTO_FAULT("ravento/replay/close", ::close(fd)) != 0 && !error)
        error = LastSystemError();
    return error;
}

std::error_code CopyBytes(int from, int to)
{
    char buffer[1 << 16];
    for (;;) {
        ssize_t count = RAVENTO_FAULT("ravento/replay/read", ::read(from, buffer, sizeof buffer));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return LastSystemError();
        if (count == 0)
            return {};
        if (std::error_code error = WriteAll(to, std::string_view(buffer, static_cast<std::size_t>(count))))
            return error;
    }
}

// A new file with the source's permissions and bytes, flushed; removed again when anything fails.
std::error_code CopyIntoNewFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    int source = RAVENTO_FAULT("ravento/replay/open", ::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (source < 0)
        return LastSystemError();
    struct stat status;
    if (RAVENTO_FAULT("ravento/replay/fstat", ::fstat(source, &status)) != 0 || !S_ISREG(status.st_mode)) {
        ::close(source);
        return ReplayFileError(FileError::NotSameDevice); // only files can cross file systems
    }
    int target = RAVENTO_FAULT("ravento/replay/open",
                               ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, status.st_mode & 07777));
    if (target < 0) {
        std::error_code error = LastSystemError(FailedCall::CreatingCopy);
        ::close(source);
        return error;
    }
    std::error_code error = CopyBytes(source, target);
    ::close(source);
    std::error_code closeError = FlushAndClose(target);
    if (!error)
        error = closeError;
    if (error)
        ::unlink(to.c_str());
    return error;
}

// For file systems without RENAME_NOREPLACE: a hard link fails on an existing target.
std::error_code MoveByLink(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (RAVENTO_FAULT("ravento/replay/link", ::link(from.c_str(), to.c_str())) != 0)
        return LastMoveError(from);
    if (RAVENTO_FAULT("ravento/replay/unlink", ::unlink(from.c_str())) != 0) {
        // Listed under both names is not a move: take the new name away again and say why.
        std::error_code error = LastSystemError();
        ::unlink(to.c_str());
        return error;
    }
    return {};
}

} // namespace

// [SECTION] Lookup

namespace {

// folder / name for a name of one entry, without splitting the folder into components again.
std::string JoinedPath(const std::filesystem::path& folder, const std::filesystem::path& name)
{
    std::string joined;
    joined.reserve(folder.native().size() + 1 + name.native().size());
    joined = folder.native();
    if (joined.back() != '/')
        joined += '/';
    joined += name.native();
    return joined;
}

} // namespace

bool IsSingleEntryName(const std::filesystem::path& name)
{
    const std::string& text = name.native();
    return !text.empty() && text != "." && text != ".."
        && text.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos;
}

std::error_code ReplayFileSystem::FindExactEntry(const std::filesystem::path& folder, const std::filesystem::path& name,
                                                 bool& found)
{
    found = false;
    // Joined to nothing, the name would be looked up in the host's working folder.
    if (folder.empty())
        return ReplayFileError(FileError::PathNotFound);
    if (IsSingleEntryName(name)) {
        struct stat status;
        // Links are followed, so the type is that of what the name leads to. One call finds a
        // present replay: this runs on the game thread each time a replay starts.
        if (RAVENTO_FAULT("ravento/replay/stat", ::stat(JoinedPath(folder, name).c_str(), &status)) == 0) {
            found = S_ISREG(status.st_mode);
            return {};
        }
        // A name too long for the file system is, like a missing one or a dangling link, no
        // entry's name. ENOTDIR (3): the folder is not a folder.
        const std::error_code error = LastSystemError();
        if (!Is(error, FileError::FileNotFound) && !Is(error, FileError::NameTooLong))
            return error;
    }
    // Not found: the lookup still fails, as a listing would, when the folder is missing or
    // cannot be read.
    if (RAVENTO_FAULT("ravento/replay/access", ::access(folder.c_str(), R_OK)) != 0)
        return LastSystemError();
    return {};
}

namespace {

// ENOENT and ENOTDIR: the not-found conditions of a status query.
bool IsNotFound(const std::error_code& error)
{
    return Is(error, FileError::FileNotFound) || Is(error, FileError::PathNotFound);
}

} // namespace

std::error_code ReplayFileSystem::QueryEntryKind(const std::filesystem::path& path, EntryKind& kind)
{
    struct stat info {};
    if (RAVENTO_FAULT("ravento/directories/stat", ::stat(path.c_str(), &info)) != 0) {
        const std::error_code error = LastSystemError();
        if (!IsNotFound(error))
            return error;
        kind = EntryKind::Missing;
        return {};
    }
    kind = S_ISDIR(info.st_mode) ? EntryKind::Directory : EntryKind::Other;
    return {};
}

std::error_code ReplayFileSystem::ListFolder(const std::filesystem::path& folder,
                                             std::vector<std::filesystem::path>& names)
{
    names.clear();
    DIR* listing = RAVENTO_FAULT_NULL("ravento/replay/opendir", ::opendir(folder.c_str()));
    if (listing == nullptr)
        return LastSystemError();
    std::error_code error;
    for (;;) {
        errno = 0;
        const dirent* entry = RAVENTO_FAULT_NULL("ravento/replay/readdir", ::readdir(listing));
        if (entry == nullptr) {
            error = errno != 0 ? LastSystemError() : std::error_code(); // errno 0: the end of the listing
            break;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(listing);
    return error;
}

// [SECTION] ReplayFileSystem

ReplayFileSystem::~ReplayFileSystem() = default;

namespace {

// A link moved to another folder would point elsewhere, or nowhere when its target is relative:
// such a move is reported as crossing volumes, so the caller copies what the link leads to.
bool IsLinkLeavingItsFolder(const std::filesystem::path& from, const std::filesystem::path& to)
{
    struct stat status;
    return RAVENTO_FAULT("ravento/replay/lstat", ::lstat(from.c_str(), &status)) == 0 && S_ISLNK(status.st_mode)
        && from.parent_path() != to.parent_path();
}

} // namespace

std::error_code ReplayFileSystem::MoveWithoutReplace(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (IsLinkLeavingItsFolder(from, to))
        return ReplayFileError(FileError::NotSameDevice);
    if (RAVENTO_FAULT("ravento/replay/renameat2",
                      ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE))
        == 0)
        return {};
    if (errno == EINVAL || errno == ENOSYS)
        return MoveByLink(from, to);
    return LastMoveError(from);
}

std::error_code ReplayFileSystem::CopyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    return CopyIntoNewFile(from, to);
}

std::error_code ReplayFileSystem::CreateFolder(const std::filesystem::path& folder)
{
    if (RAVENTO_FAULT("ravento/replay/mkdir", ::mkdir(folder.c_str(), 0777)) != 0)
        return LastSystemError(FailedCall::CreatingFolder);
    return {};
}

std::error_code ReplayFileSystem::CreateNewFile(const std::filesystem::path& file, FileHandle& handle)
{
    int fd = RAVENTO_FAULT("ravento/replay/open", ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd < 0)
        return LastSystemError(FailedCall::CreatingFile);
    handle = fd;
    return {};
}

std::error_code ReplayFileSystem::Write(FileHandle handle, std::string_view bytes)
{
    return WriteAll(static_cast<int>(handle), bytes);
}

std::error_code ReplayFileSystem::Close(FileHandle handle)
{
    return FlushAndClose(static_cast<int>(handle));
}

std::error_code ReplayFileSystem::RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (RAVENTO_FAULT("ravento/replay/rename", ::rename(from.c_str(), to.c_str())) != 0)
        return LastSystemError();
    return {};
}

std::error_code ReplayFileSystem::RemoveFile(const std::filesystem::path& file)
{
    if (RAVENTO_FAULT("ravento/replay/unlink", ::unlink(file.c_str())) != 0)
        return LastSystemError();
    return {};
}

// [SECTION] Held files

// flock, not fcntl's record locks: its lock belongs to the open file description, so a second
// open in this very process conflicts too, and closing some other descriptor of the file keeps it.
std::error_code ReplayFileSystem::Hold(const std::filesystem::path& file, bool create, FileHandle& held)
{
    // Never through a link, and never blocking on a FIFO planted under a temporary name.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (create ? O_CREAT : 0);
    int fd = RAVENTO_FAULT("ravento/replay/open", ::open(file.c_str(), flags, 0666));
    if (fd < 0)
        return LastSystemError();
    struct stat status;
    std::error_code error;
    if (RAVENTO_FAULT("ravento/held/fstat", ::fstat(fd, &status)) != 0)
        error = LastSystemError();
    else if (!S_ISREG(status.st_mode))
        error = ReplayFileError(FileError::NotRegularFile);
    else if (RAVENTO_FAULT("ravento/held/flock", ::flock(fd, LOCK_EX | LOCK_NB)) != 0)
        error = LastSystemError(FailedCall::Locking);
    if (error) {
        ::close(fd);
        return error;
    }
    held = fd;
    return {};
}

bool ReplayFileSystem::IsHeldFile(FileHandle held, const std::filesystem::path& file)
{
    struct stat heldStatus, named;
    return RAVENTO_FAULT("ravento/held/fstat", ::fstat(static_cast<int>(held), &heldStatus)) == 0
        && RAVENTO_FAULT("ravento/held/lstat", ::lstat(file.c_str(), &named)) == 0
        && heldStatus.st_dev == named.st_dev && heldStatus.st_ino == named.st_ino;
}

bool ReplayFileSystem::IsOwnFile(FileHandle held)
{
    struct stat status;
    return RAVENTO_FAULT("ravento/held/fstat", ::fstat(static_cast<int>(held), &status)) == 0
        && status.st_uid == ::geteuid();
}

void ReplayFileSystem::Release(FileHandle held)
{
    ::close(static_cast<int>(held));
}

// flock's EWOULDBLOCK alone: EACCES, EROFS, ENOLCK or a FIFO never clear by waiting.
bool IsHeldElsewhere(const std::error_code& holdError, const std::filesystem::path&)
{
    return Is(holdError, FileError::LockViolation);
}

} // namespace platform
