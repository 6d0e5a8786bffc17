// The bounded text reader (orvane/host/TextInput.h) against a direct count: it refuses bytes
// exactly when they pass a limit, says which limit, and otherwise gives back every byte.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "FuzzCheck.h"
#include "orvane/host/TextInput.h"

// Limits small enough for fuzzed inputs to pass, taken from two bytes.
inline devhost::TextLimits SmallTextLimits(unsigned char bytes, unsigned char line)
{
    return {std::size_t{bytes} * 8, std::size_t{line}};
}

inline void CheckTextLimits(std::string_view bytes, const devhost::TextLimits& limits,
                            const std::optional<std::string>& read, const std::string& error)
{
    std::size_t longestLine = 0;
    std::size_t line = 0;
    for (char c : bytes) {
        line = c == '\n' ? 0 : line + (c == '\r' ? 0 : 1); // a line break is no part of the line
        longestLine = std::max(longestLine, line);
    }
    const std::string expected = bytes.size() > limits.maxBytes ? "is larger than"
        : longestLine > limits.maxLineBytes                    ? "line longer than"
                                                               : "";
    const std::string context = fmt::format("{} bytes, longest line {}, limits {} and {}: {:?}", bytes.size(),
                                            longestLine, limits.maxBytes, limits.maxLineBytes, error);
    if (expected.empty())
        FUZZ_CHECK(read && *read == bytes && error.empty(), context);
    else
        FUZZ_CHECK(!read && error.find(expected) != std::string::npos, context);
}
