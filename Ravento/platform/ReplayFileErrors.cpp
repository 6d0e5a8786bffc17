// The seam's one error vocabulary: Windows error numbers in one category, on every platform.
#include "platform/ReplayFiles.h"

#include "platform/SystemError.h"

namespace platform {

namespace {

class WindowsErrorCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "windows"; }
    std::string message(int code) const override { return SystemErrorMessage(code); }
};

} // namespace

const std::error_category& FileErrorCategory()
{
    static const WindowsErrorCategory category;
    return category;
}

bool Is(const std::error_code& error, FileError which)
{
    return error == ReplayFileError(which);
}

bool IsNameTaken(const std::error_code& error)
{
    return Is(error, FileError::FileExists) || Is(error, FileError::AlreadyExists);
}

std::error_code ReplayFileError(int windowsCode)
{
    return {windowsCode, FileErrorCategory()};
}

std::error_code ReplayFileError(FileError which)
{
    return ReplayFileError(static_cast<int>(which));
}

} // namespace platform
