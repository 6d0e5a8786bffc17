// Conversions between narrow text and paths. The narrow text of the console variable, the log
// lines and the request fields is in the filesystem code page:
//   Windows: UTF-8 when the C runtime's locale uses UTF-8, else the ANSI code page when the
//            file functions are in ANSI mode (AreFileApisANSI), else the OEM code page;
//   POSIX:   UTF-8.
// Every conversion is strict: a byte sequence that is invalid, or a character without an exact
// counterpart, fails (Windows error 1113, POSIX EILSEQ) instead of being substituted.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace platform {

std::error_code PathFromCodePageText(std::string_view text, std::filesystem::path& path);
std::error_code CodePageTextFromPath(const std::filesystem::path& path, std::string& text);

// Text typed into the UI arrives as UTF-8 whatever the code page is.
std::error_code PathFromUtf8(std::string_view text, std::filesystem::path& path);

} // namespace platform
