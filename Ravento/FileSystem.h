// The filesystem operations and text conversions of the plugin's routines. Each one throws on
// failure, so an error ends the routine and reaches the host-callback boundary.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Narrow text in the filesystem code page <-> path, strictly; throw std::system_error.
std::filesystem::path PathFromCodePage(std::string_view text);
std::string CodePageText(const std::filesystem::path& path);
// Text typed into the UI (UTF-8) -> path, strictly; throws std::system_error.
std::filesystem::path PathFromTypedText(std::string_view utf8);
// path in the filesystem code page for a log line: a character the code page cannot express
// becomes "?", so writing a log line never fails on a conversion.
std::string LogText(const std::filesystem::path& path);

// Whether path names anything / a directory (links followed). An empty path names nothing.
// Throw std::filesystem::filesystem_error naming "exists" on failures other than "not found".
bool Exists(const std::filesystem::path& path);
bool IsDirectory(const std::filesystem::path& path);
