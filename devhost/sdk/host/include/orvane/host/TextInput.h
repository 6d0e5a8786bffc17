// The host's own text inputs, its configuration file and devhost's script, read whole and
// bounded: a file must be a regular file, opened without blocking (a FIFO with no writer would
// otherwise stall the reader for ever), and no input may pass a size or line-length limit, so
// that /dev/zero or a file without a newline is refused at once instead of filling memory.
#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>

#include "orvane/SdkApi.h"

namespace devhost {

struct TextLimits {
    std::size_t maxBytes = std::size_t{4} << 20;
    std::size_t maxLineBytes = std::size_t{64} << 10; // not counting the line break
};

// The whole file, or null with error set: it cannot be opened, is no regular file, or passes
// a limit. The file is never read past the limit.
ORVANE_SDK_API std::optional<std::string> ReadTextFile(const std::filesystem::path& file, const TextLimits& limits,
                                                       std::string& error);
// The same for a stream (standard input), read to its end.
ORVANE_SDK_API std::optional<std::string> ReadTextStream(std::istream& stream, const std::string& name,
                                                         const TextLimits& limits, std::string& error);

} // namespace devhost
