#include "../NewFile.h"

#include <windows.h>

namespace devhost {
namespace {

std::error_code CreateError()
{
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
        return std::make_error_code(std::errc::file_exists);
    return {static_cast<int>(code), std::system_category()};
}

std::error_code WriteAll(HANDLE file, const std::string& content)
{
    std::size_t written = 0;
    while (written < content.size()) {
        const std::size_t left = content.size() - written;
        DWORD count = 0;
        if (!WriteFile(file, content.data() + written, left > MAXDWORD ? MAXDWORD : static_cast<DWORD>(left), &count,
                       nullptr))
            return CreateError();
        written += count;
    }
    return {};
}

} // namespace

std::error_code WriteNewFile(const std::filesystem::path& file, const std::string& content)
{
    // CREATE_NEW fails on any existing name; a reparse point (a symbolic link) is never followed.
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return CreateError();
    std::error_code error = WriteAll(handle, content);
    if (!CloseHandle(handle) && !error)
        error = CreateError();
    if (error)
        DeleteFileW(file.c_str());
    return error;
}

} // namespace devhost
