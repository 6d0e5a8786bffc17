#include "RepairCommand.h"

#include <signal.h>

#include <fmt/format.h>

#include "Subprocess.h"
#include "TemporaryFile.h"

namespace repairservice {

RepairRunner::RepairRunner(std::string command, std::chrono::seconds timeout)
    : command(std::move(command)), timeout(timeout)
{
}

RepairResult RepairRunner::Repair(TemporaryFile& upload, TemporaryFile& output)
{
    using Outcome = RepairResult::Outcome;
    if (!upload.Rewind())
        return {Outcome::Failed, "cannot rewind the upload"};
    ChildProcess child;
    {
        // Started under the lock, so StopAll either sees it or stops it from starting.
        std::lock_guard lock(mutex);
        if (stopped)
            return {Outcome::Failed, "the service is stopping"};
        std::error_code error;
        child = ChildProcess::Start({"/bin/sh", "-c", command}, upload.Descriptor(), output.Descriptor(), error);
        if (error)
            return {Outcome::Failed, fmt::format("repair command could not run: {}", error.message())};
        running.insert(child.Id());
    }

    bool finished = child.WaitForExit(timeout);
    bool stopping = false;
    {
        std::lock_guard lock(mutex);
        running.erase(child.Id());
        stopping = stopped;
    }
    int exitCode = child.Reap();
    if (!finished)
        return {Outcome::Failed,
                fmt::format("repair command did not finish within {} seconds; killed with its "
                            "process group",
                            timeout.count())};
    if (stopping && exitCode < 0)
        return {Outcome::Failed, "repair command killed: the service is stopping"};
    if (exitCode == kCannotRepairExitCode)
        return {Outcome::CannotRepair, {}};
    if (exitCode != 0)
        return {Outcome::Failed, fmt::format("repair command exited with {}", exitCode)};
    return {Outcome::Repaired, {}};
}

void RepairRunner::StopAll()
{
    std::lock_guard lock(mutex);
    stopped = true;
    for (pid_t group : running)
        ::kill(-group, SIGKILL);
}

} // namespace repairservice
