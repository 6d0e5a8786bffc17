// POSIX: errno becomes a Windows error number here and nowhere else: one table, and beside it
// the few rules for the calls that decide an errno's number.
#include "platform/SystemError.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/ReplayFiles.h"
#include "platform/posix/FaultPoint.h"
#include "platform/posix/SystemError.h"

namespace platform {

namespace {

constexpr int kFileNotFound = static_cast<int>(FileError::FileNotFound);
constexpr int kPathNotFound = static_cast<int>(FileError::PathNotFound);
constexpr int kAccessDenied = static_cast<int>(FileError::AccessDenied);
constexpr int kFileExists = static_cast<int>(FileError::FileExists);
constexpr int kAlreadyExists = static_cast<int>(FileError::AlreadyExists);
constexpr int kDiskFull = static_cast<int>(FileError::DiskFull);
constexpr int kErrnoBit = 0x20000000; // Windows' customer bit: an errno without a counterpart

// Windows error numbers for errno values, with the messages Windows gives them.
struct WindowsError {
    int errnoValue;
    int code;
    const char* message;
};

constexpr WindowsError kWindowsErrors[] = {
    {ENOENT, kFileNotFound, "The system cannot find the file specified."},
    {ENOTDIR, kPathNotFound, "The system cannot find the path specified."},
    {EACCES, kAccessDenied, "Access is denied."},
    {EPERM, kAccessDenied, "Access is denied."},
    {EROFS, 19, "The media is write protected."},
    {EXDEV, static_cast<int>(FileError::NotSameDevice), "The system cannot move the file to a different disk drive."},
    {EBUSY, static_cast<int>(FileError::SharingViolation), "The process cannot access the file because it is being used by another process."},
    {EINVAL, 87, "The parameter is incorrect."},
    {ENOSPC, kDiskFull, "There is not enough space on the disk."},
    {EDQUOT, kDiskFull, "There is not enough space on the disk."},
    {ENAMETOOLONG, static_cast<int>(FileError::NameTooLong), "The filename or extension is too long."},
    {EEXIST, kAlreadyExists, "Cannot create a file when that file already exists."},
    {ENOTEMPTY, kAlreadyExists, "Cannot create a file when that file already exists."},
};

// Where the call that failed decides an errno's number, beside the table.
struct CallRule {
    FailedCall call;
    int errnoValue;
    int code;
};

constexpr CallRule kCallRules[] = {
    {FailedCall::CreatingFolder, ENOENT, kPathNotFound},
    {FailedCall::CreatingFile, EEXIST, kFileExists},
    {FailedCall::CreatingCopy, ENOENT, kPathNotFound},
    {FailedCall::CreatingCopy, EEXIST, kFileExists},
    {FailedCall::Locking, EWOULDBLOCK, static_cast<int>(FileError::LockViolation)},
};

std::error_code FromErrno(int errnoValue)
{
    for (const WindowsError& known : kWindowsErrors) {
        if (known.errnoValue == errnoValue)
            return ReplayFileError(known.code);
    }
    return ReplayFileError(kErrnoBit | errnoValue);
}

bool Exists(const std::filesystem::path& path)
{
    struct stat status;
    return RAVENTO_FAULT("ravento/replay/lstat", ::lstat(path.c_str(), &status)) == 0;
}

} // namespace

std::error_code LastSystemError()
{
    return FromErrno(errno);
}

std::error_code LastSystemError(FailedCall call)
{
    const int errnoValue = errno;
    for (const CallRule& rule : kCallRules) {
        if (rule.call == call && rule.errnoValue == errnoValue)
            return ReplayFileError(rule.code);
    }
    return FromErrno(errnoValue);
}

std::error_code LastMoveError(const std::filesystem::path& from)
{
    if (errno != ENOENT)
        return LastSystemError();
    return ReplayFileError(Exists(from) ? kPathNotFound : kFileNotFound);
}

std::string SystemErrorMessage(int windowsCode)
{
    if (windowsCode == kFileExists)
        return "The file exists.";
    if (windowsCode == static_cast<int>(FileError::NotRegularFile))
        return "The file cannot be accessed by the system.";
    if (windowsCode & kErrnoBit)
        return std::strerror(windowsCode & ~kErrnoBit);
    for (const WindowsError& error : kWindowsErrors) {
        if (error.code == windowsCode)
            return error.message;
    }
    return "Windows error " + std::to_string(windowsCode);
}

} // namespace platform
