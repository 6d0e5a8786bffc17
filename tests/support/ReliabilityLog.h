// Counts that long-running tests report for the generated reliability page.
#pragma once

#include <string_view>

// Appends "[reliability] <name>: <counts>" as one line to the file named by the environment
// variable RAVENTO_RELIABILITY_LOG (the test command sets it per configuration), or prints it
// on standard output when the variable is not set.
void ReportReliability(std::string_view name, std::string_view counts);
