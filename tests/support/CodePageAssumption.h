// Tests that need a character in the plugin's narrow text (the console variable, log lines)
// state it: they skip where the filesystem code page cannot hold it. The answer comes from the
// system's own conversion, not from the plugin's.
#pragma once

#include <filesystem>

#if defined(_WIN32)
#include <windows.h>

#include "platform/CodePage.h"
#endif

namespace testing_support {

#if defined(_WIN32)
inline bool FilesystemCodePageHolds(const std::filesystem::path& path)
{
    const unsigned codePage = platform::SelectFilesystemCodePage(platform::ProbeCodePages());
    if (codePage == CP_UTF8 || path.empty())
        return true;
    const std::wstring& text = path.native();
    BOOL usedDefault = FALSE;
    const int length = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0, nullptr, &usedDefault);
    return length > 0 && !usedDefault;
}
#else
// UTF-8 stands in for the code page and holds every character.
inline bool FilesystemCodePageHolds(const std::filesystem::path&)
{
    return true;
}
#endif

} // namespace testing_support
