// The folder query and the log text of the plugin's routines, over the platform seam.
#include "FileSystem.h"

#include <cstdint>
#include <system_error>

#include "platform/CodePage.h"
#include "platform/ReplayFiles.h"

namespace plugin {

namespace {

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

} // namespace

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

std::error_code IsDirectory(const std::filesystem::path& path, bool& isDirectory)
{
    isDirectory = false;
    if (path.empty())
        return {};
    platform::EntryKind kind = platform::EntryKind::Missing;
    std::error_code error = platform::ReplayFiles().QueryEntryKind(path, kind);
    isDirectory = !error && kind == platform::EntryKind::Directory;
    return error;
}

} // namespace plugin
