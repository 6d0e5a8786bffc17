// Where the running program's own file lies: the development host looks for the plugin module
// beside itself. posix/ and windows/ hold the two implementations.
#pragma once

#include <filesystem>
#include <system_error>

// The full path of the running executable.
std::error_code ExecutablePath(std::filesystem::path& path);
