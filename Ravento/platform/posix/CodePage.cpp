// POSIX: paths are bytes; UTF-8, checked strictly, stands in for the filesystem code page.
#include "platform/CodePage.h"

#include <cstdint>

namespace platform {

namespace {

// The length of the well-formed UTF-8 sequence at text[at], or 0 when it is not one
// (overlong forms, surrogates and values above U+10FFFF are rejected).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    if (lead < 0x80)
        return 1;

    std::size_t length = 0;
    std::uint8_t secondMin = 0x80, secondMax = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            secondMin = 0xA0; // overlong
        if (lead == 0xED)
            secondMax = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            secondMin = 0x90; // overlong
        if (lead == 0xF4)
            secondMax = 0x8F; // above U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    if (byte(at + 1) < secondMin || byte(at + 1) > secondMax)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

bool IsValidUtf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::error_code InvalidSequence()
{
    return std::make_error_code(std::errc::illegal_byte_sequence);
}

} // namespace

std::error_code PathFromCodePageText(std::string_view text, std::filesystem::path& path)
{
    if (!IsValidUtf8(text))
        return InvalidSequence();
    path = std::filesystem::path(std::string(text));
    return {};
}

std::error_code CodePageTextFromPath(const std::filesystem::path& path, std::string& text)
{
    if (!IsValidUtf8(path.native()))
        return InvalidSequence();
    text = path.native();
    return {};
}

std::error_code PathFromUtf8(std::string_view text, std::filesystem::path& path)
{
    return PathFromCodePageText(text, path);
}

} // namespace platform
