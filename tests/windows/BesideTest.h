// Built binaries land in one folder; the Windows tests find them beside their own executable,
// whatever drive Wine or Windows puts that folder on.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

inline std::filesystem::path BesideTest(const wchar_t* fileName)
{
    std::wstring self(MAX_PATH, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    return std::filesystem::path(self).parent_path() / fileName;
}
