// The folder query and the log text of the plugin's routines, over the platform seam. Like the
// seam's own calls, the fallible one returns the seam's std::error_code and gives its answer
// through an out-parameter; nothing here throws, so each routine handles an error where it
// arises. The strict code-page conversions are the seam's (platform/CodePage.h).
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace plugin {

// path in the filesystem code page for a log line: a character the code page cannot express
// becomes "?", so writing a log line never fails on a conversion.
std::string LogText(const std::filesystem::path& path);

// Whether path names a directory (links followed); a missing path (the not-found conditions of
// platform::ReplayFileSystem::QueryEntryKind, or an empty path) is none. Any other failure of the
// query (access denied, a link loop) is returned, with isDirectory false.
std::error_code IsDirectory(const std::filesystem::path& path, bool& isDirectory);

} // namespace plugin
