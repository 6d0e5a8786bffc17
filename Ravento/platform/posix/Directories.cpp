// POSIX: directory status with stat, which follows links.
#include "platform/Directories.h"

#include <sys/stat.h>

#include "platform/SystemError.h"
#include "platform/posix/FaultPoint.h"

namespace platform {

namespace {

bool IsNotFound(const std::error_code& error)
{
    return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
}

} // namespace

std::error_code QueryEntryKind(const std::filesystem::path& path, EntryKind& kind)
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
