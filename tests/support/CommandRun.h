// Runs a command line through the system's shell with its output caught in files, the way a
// user runs devhost from a terminal.
#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

struct CommandRun {
    int status = -1; // as std::system returns it
    std::string out;
    std::string err;
};

// Runs commandLine with standard output and standard error sent to files in outputFolder. Both
// come back with "\n" line ends on every platform.
CommandRun RunCommand(const std::string& commandLine, const std::filesystem::path& outputFolder);

} // namespace testing_support
