// Turns the platform seam's error codes into the exceptions the plugin's routines let through.
#include "FileSystem.h"

#include <system_error>

#include "platform/CodePage.h"
#include "platform/Directories.h"

namespace {

void ThrowIfConversionFailed(const std::error_code& error)
{
    if (error)
        throw std::system_error(error, "code page conversion");
}

platform::EntryKind EntryKindOf(const std::filesystem::path& path)
{
    if (path.empty())
        return platform::EntryKind::Missing;
    platform::EntryKind kind = platform::EntryKind::Missing;
    if (std::error_code error = platform::QueryEntryKind(path, kind))
        throw std::filesystem::filesystem_error("exists", path, error);
    return kind;
}

} // namespace

std::filesystem::path PathFromCodePage(std::string_view text)
{
    std::filesystem::path path;
    ThrowIfConversionFailed(platform::PathFromCodePageText(text, path));
    return path;
}

std::string CodePageText(const std::filesystem::path& path)
{
    std::string text;
    ThrowIfConversionFailed(platform::CodePageTextFromPath(path, text));
    return text;
}

std::filesystem::path PathFromTypedText(std::string_view utf8)
{
    std::filesystem::path path;
    ThrowIfConversionFailed(platform::PathFromUtf8(utf8, path));
    return path;
}

bool Exists(const std::filesystem::path& path)
{
    return EntryKindOf(path) != platform::EntryKind::Missing;
}

bool IsDirectory(const std::filesystem::path& path)
{
    return EntryKindOf(path) == platform::EntryKind::Directory;
}
