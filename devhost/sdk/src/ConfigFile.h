// The host's configuration file: one console variable a line, as   name "value"
// Values are quoted with backslash escapes (\\ \" \n \r \t \xHH), so any text round-trips.
// A name that is not a plain word is quoted the same way.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "orvane/host/TextInput.h"

namespace devhost {

std::string FormatConfigLine(const std::string& name, const std::string& value);
// Null for a line that is not a well-formed entry (blank lines included).
std::optional<std::pair<std::string, std::string>> ParseConfigLine(std::string_view line);

// What a configuration file may hold: far more than any host writes.
inline constexpr TextLimits kConfigLimits{std::size_t{1} << 20, std::size_t{64} << 10};

struct ConfigReadResult {
    std::map<std::string, std::string> values;
    std::vector<int> malformedLines; // 1-based numbers of lines that were skipped
    std::string error; // set when the file could not be read at all (see TextInput.h); nothing was read
};

// A missing file reads as empty.
ConfigReadResult ReadConfigFile(const std::filesystem::path& file, const TextLimits& limits = kConfigLimits);
// Writes a new file of a unique name beside the file and renames it over the file, so a failed
// write never leaves half a file and nothing planted beside the file is opened.
std::error_code WriteConfigFile(const std::filesystem::path& file, const std::map<std::string, std::string>& values);

} // namespace devhost
