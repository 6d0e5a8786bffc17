// POSIX: exact-name lookup with one stat, moves with renameat2(RENAME_NOREPLACE), and errno
// turned into the Windows error numbers the log shows.
//
// Index: [SECTION] Windows error numbers, [SECTION] Writing, copying and linking,
//        [SECTION] Lookup, [SECTION] ReplayFileSystem, [SECTION] Held files
#include "platform/ReplayFiles.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/SystemError.h"
#include "platform/posix/FaultPoint.h"

namespace platform {

// [SECTION] Windows error numbers

namespace {

// Windows error numbers for errno values, with the messages Windows gives them.
struct WindowsError {
    int errnoValue;
    int code;
    const char* message;
};

constexpr int kFileNotFound = static_cast<int>(FileError::FileNotFound);
constexpr int kPathNotFound = static_cast<int>(FileError::PathNotFound);
constexpr int kNotSameDevice = static_cast<int>(FileError::NotSameDevice);
constexpr int kFileExists = static_cast<int>(FileError::FileExists);
constexpr int kAlreadyExists = static_cast<int>(FileError::AlreadyExists);
constexpr int kErrnoBit = 0x20000000; // Windows' customer bit: an errno without a counterpart

constexpr WindowsError kWindowsErrors[] = {
    {ENOENT, kFileNotFound, "The system cannot find the file specified."},
    {ENOTDIR, kPathNotFound, "The system cannot find the path specified."},
    {EACCES, static_cast<int>(FileError::AccessDenied), "Access is denied."},
    {EPERM, static_cast<int>(FileError::AccessDenied), "Access is denied."},
    {EROFS, 19, "The media is write protected."},
    {EXDEV, kNotSameDevice, "The system cannot move the file to a different disk drive."},
    {EBUSY, static_cast<int>(FileError::SharingViolation), "The process cannot access the file because it is being used by another process."},
    {EINVAL, 87, "The parameter is incorrect."},
    {ENOSPC, static_cast<int>(FileError::DiskFull), "There is not enough space on the disk."},
    {EDQUOT, static_cast<int>(FileError::DiskFull), "There is not enough space on the disk."},
    {ENAMETOOLONG, 206, "The filename or extension is too long."},
    {EEXIST, kAlreadyExists, "Cannot create a file when that file already exists."},
    {ENOTEMPTY, kAlreadyExists, "Cannot create a file when that file already exists."},
};

class WindowsErrorCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "windows"; }

    std::string message(int code) const override
    {
        if (code == kFileExists)
            return "The file exists.";
        if (code & kErrnoBit)
            return std::strerror(code & ~kErrnoBit);
        for (const WindowsError& error : kWindowsErrors) {
            if (error.code == code)
                return error.message;
        }
        return "Windows error " + std::to_string(code);
    }
};

const std::error_category& WindowsCategory()
{
    static const WindowsErrorCategory category;
    return category;
}

std::error_code WindowsCode(int code)
{
    return {code, WindowsCategory()};
}

// The one place where errno becomes a Windows number.
std::error_code AsWindowsError(std::error_code error)
{
    for (const WindowsError& known : kWindowsErrors) {
        if (known.errnoValue == error.value())
            return WindowsCode(known.code);
    }
    return WindowsCode(kErrnoBit | error.value());
}

std::error_code LastWindowsError()
{
    return AsWindowsError(LastSystemError());
}

bool Exists(const std::filesystem::path& path)
{
    struct stat status;
    return RAVENTO_FAULT("ravento/replay/lstat", ::lstat(path.c_str(), &status)) == 0;
}

// ENOENT from a move means the source is gone (2) or the target's folder is (3).
std::error_code MissingSourceOrFolder(const std::filesystem::path& from)
{
    return WindowsCode(Exists(from) ? kPathNotFound : kFileNotFound);
}

// [SECTION] Writing, copying and linking

std::error_code WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return LastWindowsError();
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return {};
}

// Flushed before closing, so a file renamed into place afterwards is complete on disk too.
std::error_code FlushAndClose(int fd)
{
    std::error_code error;
    if (::fsync(fd) != 0)
        error = LastWindowsError();
    if (::close(fd) != 0 && !error)
        error = LastWindowsError();
    return error;
}

std::error_code CopyBytes(int from, int to)
{
    char buffer[1 << 16];
    for (;;) {
        ssize_t count = ::read(from, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return LastWindowsError();
        if (count == 0)
            return {};
        if (std::error_code error = WriteAll(to, std::string_view(buffer, static_cast<std::size_t>(count))))
            return error;
    }
}

// A new file with the source's permissions and bytes, flushed; removed again when anything fails.
std::error_code CopyIntoNewFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0)
        return errno == ENOENT ? WindowsCode(kFileNotFound) : LastWindowsError();
    struct stat status;
    if (RAVENTO_FAULT("ravento/replay/fstat", ::fstat(source, &status)) != 0 || !S_ISREG(status.st_mode)) {
        ::close(source);
        return WindowsCode(kNotSameDevice); // only files can cross file systems
    }
    int target = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, status.st_mode & 07777);
    if (target < 0) {
        std::error_code error = errno == ENOENT ? WindowsCode(kPathNotFound)
            : errno == EEXIST                   ? WindowsCode(kFileExists)
                                                : LastWindowsError();
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
        return errno == ENOENT ? MissingSourceOrFolder(from) : LastWindowsError();
    if (::unlink(from.c_str()) != 0) {
        // Listed under both names is not a move: take the new name away again and say why.
        std::error_code error = LastWindowsError();
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

std::error_code FindExactEntry(const std::filesystem::path& folder, const std::filesystem::path& name, bool& found)
{
    found = false;
    // Joined to nothing, the name would be looked up in the host's working folder.
    if (folder.empty())
        return std::make_error_code(std::errc::no_such_file_or_directory);
    if (IsSingleEntryName(name)) {
        struct stat status;
        // Links are followed, so the type is that of what the name leads to. One call finds a
        // present replay: this runs on the game thread each time a replay starts.
        if (RAVENTO_FAULT("ravento/replay/stat", ::stat(JoinedPath(folder, name).c_str(), &status)) == 0) {
            found = S_ISREG(status.st_mode);
            return {};
        }
        // A name too long for the file system is, like a missing one or a dangling link, no
        // entry's name. ENOTDIR: the folder is not a folder.
        if (errno != ENOENT && errno != ENAMETOOLONG)
            return LastSystemError();
    }
    // Not found: the lookup still fails, as a listing would, when the folder is missing or
    // cannot be read.
    if (RAVENTO_FAULT("ravento/replay/access", ::access(folder.c_str(), R_OK)) != 0)
        return LastSystemError();
    return {};
}

// [SECTION] ReplayFileSystem

std::error_code ReplayFileError(int windowsCode)
{
    return WindowsCode(windowsCode);
}

ReplayFileSystem::~ReplayFileSystem() = default;

std::error_code ReplayFileSystem::MoveWithoutReplace(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (RAVENTO_FAULT("ravento/replay/renameat2",
                      ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE))
        == 0)
        return {};
    switch (errno) {
    case EXDEV:
        return WindowsCode(kNotSameDevice);
    case EINVAL:
    case ENOSYS:
        return MoveByLink(from, to);
    case ENOENT:
        return MissingSourceOrFolder(from);
    default:
        return LastWindowsError();
    }
}

std::error_code ReplayFileSystem::CopyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    return CopyIntoNewFile(from, to);
}

std::error_code ReplayFileSystem::CreateFolder(const std::filesystem::path& folder)
{
    if (RAVENTO_FAULT("ravento/replay/mkdir", ::mkdir(folder.c_str(), 0777)) != 0)
        return errno == ENOENT ? WindowsCode(kPathNotFound) : LastWindowsError();
    return {};
}

std::error_code ReplayFileSystem::CreateNewFile(const std::filesystem::path& file, FileHandle& handle)
{
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno == EEXIST ? WindowsCode(kFileExists) : LastWindowsError();
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
    if (::rename(from.c_str(), to.c_str()) != 0)
        return LastWindowsError();
    return {};
}

std::error_code ReplayFileSystem::RemoveFile(const std::filesystem::path& file)
{
    if (::unlink(file.c_str()) != 0)
        return LastWindowsError();
    return {};
}

// [SECTION] Held files

// flock, not fcntl's record locks: its lock belongs to the open file description, so a second
// open in this very process conflicts too, and closing some other descriptor of the file keeps it.
std::error_code ReplayFileSystem::Hold(const std::filesystem::path& file, bool create, FileHandle& held)
{
    // Never through a link, and never blocking on a FIFO planted under a temporary name.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (create ? O_CREAT : 0);
    int fd = ::open(file.c_str(), flags, 0666);
    if (fd < 0)
        return errno == ENOENT ? WindowsCode(kFileNotFound) : LastWindowsError();
    struct stat status;
    std::error_code error;
    if (::fstat(fd, &status) != 0)
        error = LastWindowsError();
    else if (!S_ISREG(status.st_mode))
        error = WindowsCode(static_cast<int>(FileError::AccessDenied));
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = errno == EWOULDBLOCK ? WindowsCode(static_cast<int>(FileError::LockViolation)) : LastWindowsError();
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
    return ::fstat(static_cast<int>(held), &heldStatus) == 0 && ::lstat(file.c_str(), &named) == 0
        && heldStatus.st_dev == named.st_dev && heldStatus.st_ino == named.st_ino;
}

void ReplayFileSystem::Release(FileHandle held)
{
    ::close(static_cast<int>(held));
}

} // namespace platform
