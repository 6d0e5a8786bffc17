// The code-page conversions between narrow text and paths. On this platform the code page is
// UTF-8: a text converts exactly when it is well-formed UTF-8 (strict: no substitution, no
// silent loss), and what converts comes back byte for byte.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "FuzzCheck.h"
#include "platform/CodePage.h"

namespace {

// Decodes by the bit patterns alone, accepting overlong forms, surrogates and values up to
// 21 bits; the strictness is checked separately below, so this judge shares no logic with the
// converter it judges.
std::optional<std::vector<char32_t>> LooseDecode(std::string_view text)
{
    std::vector<char32_t> points;
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<std::uint8_t>(text[at]);
        int trailing = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
        if (trailing < 0 || at + trailing >= text.size())
            return std::nullopt;
        char32_t point = trailing == 0 ? lead : lead & (0x3F >> trailing);
        for (int i = 1; i <= trailing; ++i) {
            const auto next = static_cast<std::uint8_t>(text[at + i]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            point = (point << 6) | (next & 0x3F);
        }
        points.push_back(point);
        at += 1 + trailing;
    }
    return points;
}

std::string Encode(const std::vector<char32_t>& points)
{
    std::string text;
    for (char32_t point : points) {
        if (point < 0x80) {
            text += static_cast<char>(point);
        } else if (point < 0x800) {
            text += static_cast<char>(0xC0 | (point >> 6));
            text += static_cast<char>(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            text += static_cast<char>(0xE0 | (point >> 12));
            text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (point >> 18));
            text += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (point & 0x3F));
        }
    }
    return text;
}

// Well-formed: decodes, holds no surrogate and nothing above U+10FFFF, and is the shortest
// encoding of what it holds.
bool IsWellFormedUtf8(std::string_view text)
{
    std::optional<std::vector<char32_t>> points = LooseDecode(text);
    if (!points)
        return false;
    for (char32_t point : *points) {
        if ((point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
            return false;
    }
    return Encode(*points) == text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const bool wellFormed = IsWellFormedUtf8(text);

    std::filesystem::path path;
    std::error_code error = platform::PathFromCodePageText(text, path);
    FUZZ_CHECK(!error == wellFormed,
               fmt::format("{:?}: well-formed {}, conversion says {}", text, wellFormed, error.message()));

    std::filesystem::path typed;
    std::error_code typedError = platform::PathFromUtf8(text, typed);
    FUZZ_CHECK(!typedError == wellFormed,
               fmt::format("{:?}: typed text conversion says {}", text, typedError.message()));

    // The other way: a path made from these bytes converts exactly when they are well-formed.
    std::string back;
    std::error_code backError = platform::CodePageTextFromPath(std::filesystem::path(text), back);
    FUZZ_CHECK(!backError == wellFormed, fmt::format("{:?}: path to text says {}", text, backError.message()));
    if (!wellFormed)
        return 0;
    FUZZ_CHECK(back == text, fmt::format("{:?} came back as {:?}", text, back));
    std::string roundTrip;
    FUZZ_CHECK(!platform::CodePageTextFromPath(path, roundTrip) && roundTrip == text,
               fmt::format("{:?} lost on the way", text));
    FUZZ_CHECK(typed == path, "typed text and code-page text differ");
    return 0;
}
