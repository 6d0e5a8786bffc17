// The repair itself lies outside this service: an operator-chosen shell command gets the upload
// on standard input and writes the repaired replay to standard output. Without a command the
// upload comes back unchanged.
#pragma once

#include <string>
#include <string_view>

namespace repairservice {

// The exit code by which a repair command says "this replay cannot be repaired".
inline constexpr int kCannotRepairExitCode = 3;

struct RepairResult {
    enum class Outcome { Repaired, CannotRepair, Failed };
    Outcome outcome = Outcome::Failed;
    std::string bytes;   // the repaired replay when Repaired
    std::string detail;  // why, when Failed
};

// command runs through "/bin/sh -c"; empty means "return the upload unchanged".
RepairResult Repair(const std::string& command, std::string_view upload);

} // namespace repairservice
