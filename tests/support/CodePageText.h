// The plugin's narrow text of a path, and a path from narrow or typed text, for a test's
// expectations: the seam's own strict conversions (platform/CodePage.h), throwing
// std::system_error where they fail, so that a test meeting an unconvertible name stops there.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/CodePage.h"

namespace testing_support {

inline std::filesystem::path PathFromCodePage(std::string_view text)
{
    std::filesystem::path path;
    if (std::error_code error = platform::PathFromCodePageText(text, path))
        throw std::system_error(error, "code page conversion");
    return path;
}

inline std::string CodePageText(const std::filesystem::path& path)
{
    std::string text;
    if (std::error_code error = platform::CodePageTextFromPath(path, text))
        throw std::system_error(error, "code page conversion");
    return text;
}

inline std::filesystem::path PathFromTypedText(std::string_view utf8)
{
    std::filesystem::path path;
    if (std::error_code error = platform::PathFromUtf8(utf8, path))
        throw std::system_error(error, "code page conversion");
    return path;
}

} // namespace testing_support
