// Runs a program to completion, feeding it bytes on standard input and collecting its standard
// output. Standard error stays the service's own, so a failing command explains itself there.
#pragma once

#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace repairservice {

struct ProcessResult {
    int exitCode = -1;   // the program's exit status; -1 when a signal ended it
    std::string output;  // everything it wrote to standard output
};

// argv[0] is looked up on PATH. Returns an error when the program cannot be started or its
// pipes fail; a program that runs and fails is a result with its exit code.
ProcessResult RunProcess(const std::vector<std::string>& argv, std::string_view input, std::error_code& error);

} // namespace repairservice
