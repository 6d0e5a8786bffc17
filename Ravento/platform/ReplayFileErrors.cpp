// The seam's one error vocabulary: Windows error numbers in one category, on every platform.
#include "platform/ReplayFiles.h"

#include "platform/SystemError.h"

namespace platform {

namespace {

// The portable conditions of the numbers the plugin tells apart, so that an error compares equal
// to std::errc on every platform.
struct PortableCondition {
    FileError error;
    std::errc condition;
};

constexpr PortableCondition kPortableConditions[] = {
    {FileError::FileNotFound, std::errc::no_such_file_or_directory},
    {FileError::PathNotFound, std::errc::no_such_file_or_directory},
    {FileError::AccessDenied, std::errc::permission_denied},
    {FileError::NotSameDevice, std::errc::cross_device_link},
    {FileError::SharingViolation, std::errc::device_or_resource_busy},
    {FileError::LockViolation, std::errc::resource_unavailable_try_again},
    {FileError::FileExists, std::errc::file_exists},
    {FileError::DiskFull, std::errc::no_space_on_device},
    {FileError::AlreadyExists, std::errc::file_exists},
    {FileError::NameTooLong, std::errc::filename_too_long},
};

class WindowsErrorCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "windows"; }
    std::string message(int code) const override { return SystemErrorMessage(code); }
    std::error_condition default_error_condition(int code) const noexcept override
    {
        for (const PortableCondition& known : kPortableConditions) {
            if (static_cast<int>(known.error) == code)
                return known.condition;
        }
        return {code, *this};
    }
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
