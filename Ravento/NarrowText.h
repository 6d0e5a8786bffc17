// Throwing forms of the code-page conversions, for routines in which a conversion error ends
// the routine (the callback boundary logs it).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/CodePage.h"

inline std::string NarrowText(const std::filesystem::path& path)
{
    std::string text;
    if (std::error_code error = platform::CodePageTextFromPath(path, text))
        throw std::system_error(error, "path to narrow text");
    return text;
}

inline std::filesystem::path PathFromNarrow(std::string_view text)
{
    std::filesystem::path path;
    if (std::error_code error = platform::PathFromCodePageText(text, path))
        throw std::system_error(error, "narrow text to path");
    return path;
}
