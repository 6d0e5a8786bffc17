// POSIX: directory status with stat, which follows links.
#include "platform/ReplayFiles.h"

#include <sys/stat.h>

#include "platform/SystemError.h"
#include "platform/posix/FaultPoint.h"

namespace platform {

namespace {

// ENOENT and ENOTDIR.
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

} // namespace platform
