// Windows: GetModuleFileNameW of the process's own module. GetLastError becomes a
// std::error_code here.
#include "../ExecutablePath.h"

#include <windows.h>

#include <string>

std::error_code ExecutablePath(std::filesystem::path& path)
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::error_code(static_cast<int>(GetLastError()), std::system_category());
        if (length < buffer.size()) {
            buffer.resize(length);
            path = buffer;
            return {};
        }
        buffer.resize(buffer.size() * 2); // truncated: try a larger buffer
    }
}
