// The named file errors, the same on every platform: ReplayFileSystem reports Windows numbers.
#include "platform/ReplayFiles.h"

namespace platform {

bool Is(const std::error_code& error, FileError which)
{
    return error.value() == static_cast<int>(which);
}

bool IsNameTaken(const std::error_code& error)
{
    return Is(error, FileError::FileExists) || Is(error, FileError::AlreadyExists);
}

std::error_code ReplayFileError(FileError which)
{
    return ReplayFileError(static_cast<int>(which));
}

} // namespace platform
