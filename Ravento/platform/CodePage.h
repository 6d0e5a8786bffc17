// Conversions between narrow text and paths. The narrow text of the console variable, the log
// lines and the request fields is in the filesystem code page:
//   Windows: UTF-8 when the locale of the C runtime the process uses is UTF-8, else the ANSI
//            code page when the file functions are in ANSI mode (AreFileApisANSI), else the
//            OEM code page. The process's runtime is the Universal C runtime (ucrtbase.dll)
//            when it is loaded, which is the case for hosts built with a current Microsoft
//            compiler, else msvcrt.dll;
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

#if defined(_WIN32)
// What the Windows rule reads, probed afresh for every conversion: the process may load the
// Universal C runtime or change a locale at any time.
struct CodePageProbe {
    bool universalRuntimeLoaded = false;
    unsigned universalRuntimeLocale = 0; // its ___lc_codepage_func(), when loaded
    unsigned classicRuntimeLocale = 0; // msvcrt.dll's ___lc_codepage_func()
    bool fileApisAnsi = true;
    unsigned ansi = 0;
    unsigned oem = 0;
};

CodePageProbe ProbeCodePages();
unsigned SelectFilesystemCodePage(const CodePageProbe& probe);
#endif

} // namespace platform
