#include "RepairCommand.h"

#include <fmt/format.h>

#include "Subprocess.h"

namespace repairservice {

RepairResult Repair(const std::string& command, std::string_view upload)
{
    using Outcome = RepairResult::Outcome;
    if (command.empty())
        return {Outcome::Repaired, std::string(upload), {}};

    std::error_code error;
    ProcessResult process = RunProcess({"/bin/sh", "-c", command}, upload, error);
    if (error)
        return {Outcome::Failed, {}, fmt::format("repair command could not run: {}", error.message())};
    if (process.exitCode == kCannotRepairExitCode)
        return {Outcome::CannotRepair, {}, {}};
    if (process.exitCode != 0)
        return {Outcome::Failed, {}, fmt::format("repair command exited with {}", process.exitCode)};
    return {Outcome::Repaired, std::move(process.output), {}};
}

} // namespace repairservice
