#include "RepairCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <fmt/format.h>

#include "Subprocess.h"
#include "TemporaryFile.h"

namespace repairservice {
namespace {

using Clock = std::chrono::steady_clock;

// The command's standard output: the runner reads one end, the command gets the other.
struct OutputPipe {
    int readEnd = -1;
    int writeEnd = -1;

    OutputPipe()
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            readEnd = ends[0];
            writeEnd = ends[1];
        }
    }
    ~OutputPipe()
    {
        CloseWriteEnd();
        if (readEnd >= 0)
            ::close(readEnd);
    }
    OutputPipe(const OutputPipe&) = delete;
    OutputPipe& operator=(const OutputPipe&) = delete;

    // Once the command has its copy: the pipe then ends when the command's side closes.
    void CloseWriteEnd()
    {
        if (writeEnd >= 0)
            ::close(writeEnd);
        writeEnd = -1;
    }
};

enum class CopyEnd { Exited, TimedOut, TooLarge, StoreFailed };

// Copies what the command writes into output until the command has exited and nothing it
// wrote is left unread (a process it left behind may write on: that counts as well).
CopyEnd CopyOutput(ChildProcess& child, int pipe, TemporaryFile& output, std::size_t maxBytes,
                   Clock::time_point deadline)
{
    std::size_t copied = 0;
    bool pipeOpen = true;
    char block[64 * 1024];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd watched[2] = {{child.ExitNotice(), POLLIN, 0}, {pipeOpen ? pipe : -1, POLLIN, 0}};
        int ready = ::poll(watched, 2, static_cast<int>(std::max<long long>(left, 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return CopyEnd::TimedOut;
        if (watched[1].revents == 0)
            return CopyEnd::Exited; // the command exited and its output is all read
        ssize_t count = ::read(pipe, block, sizeof block);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            pipeOpen = false; // every writer closed it; now wait for the exit alone
            continue;
        }
        copied += static_cast<std::size_t>(count);
        if (copied > maxBytes)
            return CopyEnd::TooLarge;
        if (!output.Append(block, static_cast<std::size_t>(count)))
            return CopyEnd::StoreFailed;
    }
}

} // namespace

RepairRunner::RepairRunner(std::string command, std::chrono::seconds timeout, std::size_t maxOutputBytes)
    : command(std::move(command)), timeout(timeout), maxOutputBytes(maxOutputBytes)
{
}

RepairResult RepairRunner::Repair(TemporaryFile& upload, TemporaryFile& output)
{
    using Outcome = RepairResult::Outcome;
    if (!upload.Rewind())
        return {Outcome::Failed, "cannot rewind the upload"};
    OutputPipe pipe;
    if (pipe.readEnd < 0)
        return {Outcome::Failed, "cannot make a pipe for the repair command's output"};
    const Clock::time_point deadline = Clock::now() + timeout;
    ChildProcess child;
    {
        // Started under the lock, so StopAll either sees it or stops it from starting.
        std::lock_guard lock(mutex);
        if (stopped)
            return {Outcome::Failed, "the service is stopping"};
        std::error_code error;
        child = ChildProcess::Start({"/bin/sh", "-c", command}, upload.Descriptor(), pipe.writeEnd, error);
        if (error)
            return {Outcome::Failed, fmt::format("repair command could not run: {}", error.message())};
        running.insert(child.Id());
    }
    pipe.CloseWriteEnd();

    const CopyEnd end = CopyOutput(child, pipe.readEnd, output, maxOutputBytes, deadline);
    bool stopping = false;
    {
        std::lock_guard lock(mutex);
        running.erase(child.Id());
        stopping = stopped;
    }
    int exitCode = child.Reap();
    switch (end) {
    case CopyEnd::TimedOut:
        return {Outcome::Failed,
                fmt::format("repair command did not finish within {} seconds; killed with its process group",
                            timeout.count())};
    case CopyEnd::TooLarge:
        return {Outcome::Failed,
                fmt::format("repair command wrote more than {} bytes; killed with its process group", maxOutputBytes)};
    case CopyEnd::StoreFailed:
        return {Outcome::Failed, "cannot store the repair command's output in a temporary file"};
    case CopyEnd::Exited:
        break;
    }
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
