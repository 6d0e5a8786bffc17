// Turns the platform seam's error codes into the exceptions the plugin's routines let through.
#include "FileSystem.h"

#include <cstdint>
#include <system_error>

#include "platform/CodePage.h"
#include "platform/ReplayFiles.h"

namespace plugin {

namespace {

void ThrowIfConversionFailed(const std::error_code& error)
{
    if (error)
        throw std::system_error(error, "code page conversion");
}

// How many units of text, from at on, make one character: a UTF-8 lead byte with its
// continuation bytes, or a UTF-16 surrogate pair.
std::size_t CharacterLength(const std::filesystem::path::string_type& text, std::size_t at)
{
    std::size_t length = 1;
    if constexpr (sizeof(text[0]) == 1) {
        while (at + length < text.size() && (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80)
            ++length;
    } else {
        auto inSurrogateRange = [](auto unit, std::uint32_t first) {
            const auto value = static_cast<std::uint32_t>(unit);
            return value >= first && value <= first + 0x3FF;
        };
        if (inSurrogateRange(text[at], 0xD800) && at + 1 < text.size() && inSurrogateRange(text[at + 1], 0xDC00))
            length = 2;
    }
    return length;
}

platform::EntryKind EntryKindOf(const std::filesystem::path& path)
{
    if (path.empty())
        return platform::EntryKind::Missing;
    platform::EntryKind kind = platform::EntryKind::Missing;
    if (std::error_code error = platform::ReplayFiles().QueryEntryKind(path, kind))
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

std::string LogText(const std::filesystem::path& path)
{
    std::string text;
    if (!platform::CodePageTextFromPath(path, text))
        return text;
    // Rare: convert character by character to keep every one that converts.
    text.clear();
    const std::filesystem::path::string_type& native = path.native();
    for (std::size_t at = 0; at < native.size();) {
        std::size_t length = CharacterLength(native, at);
        std::string character;
        bool unconvertible = static_cast<bool>(platform::CodePageTextFromPath(native.substr(at, length), character));
        text += unconvertible ? std::string_view("?") : std::string_view(character);
        at += length;
    }
    return text;
}

bool Exists(const std::filesystem::path& path)
{
    return EntryKindOf(path) != platform::EntryKind::Missing;
}

bool IsDirectory(const std::filesystem::path& path)
{
    return EntryKindOf(path) == platform::EntryKind::Directory;
}

} // namespace plugin
