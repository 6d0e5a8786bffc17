// POSIX: the errno values whose Windows number depends on what the failed call was doing. The
// rules sit beside the one table in posix/SystemError.cpp; any other errno is the table's.
#pragma once

#include <filesystem>
#include <system_error>

namespace platform {

enum class FailedCall {
    CreatingFolder, // ENOENT: a folder on the way is missing (3)
    CreatingFile, // EEXIST: "The file exists." (80), where a folder or a move's target says 183
    CreatingCopy, // a new file in a folder: both of the above
    Locking, // EWOULDBLOCK: another open holds the lock (33)
};

// errno through the rules of call, then the table.
std::error_code LastSystemError(FailedCall call);
// A move's ENOENT: the source is gone (2) or the target's folder is (3), whichever from says.
std::error_code LastMoveError(const std::filesystem::path& from);

} // namespace platform
