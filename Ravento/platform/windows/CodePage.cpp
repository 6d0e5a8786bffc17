// Windows: the filesystem code page and strict conversions through it. The standard library's
// own path conversions follow other rules, so they are not used.
#include "platform/CodePage.h"

#include <windows.h>

#include <climits>

#include "platform/ReplayFiles.h"
#include "platform/SystemError.h"

namespace platform {

namespace {

constexpr UINT kGb18030 = 54936;

// The code page of the current locale of the C runtime in module, when the process has
// loaded it. The module is held while it is asked, so it cannot be unloaded meanwhile.
bool RuntimeLocaleCodePage(const wchar_t* module, unsigned& codePage)
{
    HMODULE runtime = nullptr;
    if (!::GetModuleHandleExW(0, module, &runtime))
        return false;
    using CodePageQuery = unsigned (*)();
    const auto query =
        reinterpret_cast<CodePageQuery>(reinterpret_cast<void (*)()>(::GetProcAddress(runtime, "___lc_codepage_func")));
    if (query)
        codePage = query();
    ::FreeLibrary(runtime);
    return query != nullptr;
}

UINT FilesystemCodePage()
{
    return SelectFilesystemCodePage(ProbeCodePages());
}

bool RejectedFlags()
{
    return LastSystemError().value() == ERROR_INVALID_FLAGS;
}

// Runs a conversion twice: to size the result, then to fill it. convert reads flags, which are
// dropped when the code page rejects them (ERROR_INVALID_FLAGS).
template <typename Text, typename Convert>
std::error_code SizeAndConvert(DWORD& flags, const Convert& convert, Text& result)
{
    int length = convert(nullptr, 0);
    if (length == 0 && RejectedFlags()) {
        flags = 0;
        length = convert(nullptr, 0);
    }
    if (length == 0)
        return LastSystemError();
    result.resize(static_cast<std::size_t>(length));
    if (convert(result.data(), length) == 0)
        return LastSystemError();
    return {};
}

std::error_code ToWide(UINT codePage, std::string_view text, std::wstring& wide)
{
    wide.clear();
    if (text.empty())
        return {};
    if (text.size() > INT_MAX)
        return std::make_error_code(std::errc::value_too_large);

    DWORD flags = MB_ERR_INVALID_CHARS;
    const auto convert = [&](wchar_t* out, int outLength) {
        return ::MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), out, outLength);
    };
    return SizeAndConvert(flags, convert, wide);
}

std::error_code ToNarrow(UINT codePage, std::wstring_view wide, std::string& text)
{
    text.clear();
    if (wide.empty())
        return {};
    if (wide.size() > INT_MAX)
        return std::make_error_code(std::errc::value_too_large);

    // UTF-8 and GB18030 can hold every character: only unpaired surrogates fail, through the
    // flag. Other code pages report a substituted default character instead.
    const bool strictByFlag = codePage == CP_UTF8 || codePage == kGb18030;
    DWORD flags = strictByFlag ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    // Code pages that reject the flags also reject the used-default query (error 87).
    const auto convert = [&](char* out, int outLength) {
        const bool askUsedDefault = !strictByFlag && flags != 0;
        return ::WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), out, outLength,
                                     nullptr, askUsedDefault ? &usedDefault : nullptr);
    };
    if (std::error_code error = SizeAndConvert(flags, convert, text))
        return error;
    if (usedDefault) {
        text.clear();
        return ReplayFileError(ERROR_NO_UNICODE_TRANSLATION);
    }
    return {};
}

} // namespace

CodePageProbe ProbeCodePages()
{
    CodePageProbe probe;
    probe.universalRuntimeLoaded = RuntimeLocaleCodePage(L"ucrtbase.dll", probe.universalRuntimeLocale);
    RuntimeLocaleCodePage(L"msvcrt.dll", probe.classicRuntimeLocale);
    probe.fileApisAnsi = ::AreFileApisANSI();
    probe.ansi = ::GetACP();
    probe.oem = ::GetOEMCP();
    return probe;
}

unsigned SelectFilesystemCodePage(const CodePageProbe& probe)
{
    // A host built with a current Microsoft compiler keeps its locale in the Universal C
    // runtime; msvcrt.dll may be loaded beside it without being the one the host set.
    const unsigned locale = probe.universalRuntimeLoaded ? probe.universalRuntimeLocale : probe.classicRuntimeLocale;
    if (locale == CP_UTF8)
        return CP_UTF8;
    return probe.fileApisAnsi ? probe.ansi : probe.oem;
}

std::error_code PathFromCodePageText(std::string_view text, std::filesystem::path& path)
{
    std::wstring wide;
    if (std::error_code error = ToWide(FilesystemCodePage(), text, wide))
        return error;
    path = std::filesystem::path(std::move(wide));
    return {};
}

std::error_code CodePageTextFromPath(const std::filesystem::path& path, std::string& text)
{
    return ToNarrow(FilesystemCodePage(), path.native(), text);
}

std::error_code PathFromUtf8(std::string_view text, std::filesystem::path& path)
{
    std::wstring wide;
    if (std::error_code error = ToWide(CP_UTF8, text, wide))
        return error;
    path = std::filesystem::path(std::move(wide));
    return {};
}

} // namespace platform
