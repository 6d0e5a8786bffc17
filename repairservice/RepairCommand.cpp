#include "RepairCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <fmt/format.h>

#include "Subprocess.h"
#include "TemporaryFile.h"

namespace repairservice {
namespace {

using Clock = std::chrono::steady_clock;

// A pipe the command writes into: the runner reads one end, the command gets the other.
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
        CloseReadEnd();
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
    void CloseReadEnd()
    {
        if (readEnd >= 0)
            ::close(readEnd);
        readEnd = -1;
    }
    // Reads what is there: the count read, 0 when interrupted or once every writer has closed
    // it (the read end is then closed, so polling it no longer wakes).
    std::size_t Read(char* buffer, std::size_t size)
    {
        ssize_t count = ::read(readEnd, buffer, size);
        if (count < 0 && errno == EINTR)
            return 0;
        if (count <= 0)
            CloseReadEnd();
        return count > 0 ? static_cast<std::size_t>(count) : 0;
    }
};

// What the command writes to standard error: the first kKeptErrorBytes go to the service's own
// standard error once the command ends, the rest is read and dropped, so a command that writes
// there without end neither stalls nor fills the service's log.
constexpr std::size_t kKeptErrorBytes = 16 * 1024;

struct ErrorText {
    std::string kept;
    std::size_t dropped = 0;

    void Add(const char* bytes, std::size_t count)
    {
        const std::size_t taken = std::min(count, kKeptErrorBytes - kept.size());
        kept.append(bytes, taken);
        dropped += count - taken;
    }
    void Report() const
    {
        if (kept.empty())
            return;
        std::string text = kept;
        if (text.back() != '\n')
            text += '\n';
        if (dropped != 0)
            text += fmt::format("[repair command: {} more bytes of its standard error dropped]\n", dropped);
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
};

enum class CopyEnd { Exited, TimedOut, TooLarge, StoreFailed };

// Copies what the command writes into output, and its errors into errors, until the command
// has exited and nothing it wrote is left unread (a process it left behind may write on: that
// counts as well).
CopyEnd CopyOutput(ChildProcess& child, OutputPipe& pipe, OutputPipe& errorPipe, TemporaryFile& output,
                   ErrorText& errors, std::size_t maxBytes, Clock::time_point deadline)
{
    std::size_t copied = 0;
    char block[64 * 1024];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd watched[3] = {
            {child.ExitNotice(), POLLIN, 0}, {pipe.readEnd, POLLIN, 0}, {errorPipe.readEnd, POLLIN, 0}};
        int ready = ::poll(watched, 3, static_cast<int>(std::max<long long>(left, 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return CopyEnd::TimedOut;
        if (watched[1].revents == 0 && watched[2].revents == 0)
            return CopyEnd::Exited; // the command exited and its output is all read
        if (watched[2].revents != 0)
            errors.Add(block, errorPipe.Read(block, sizeof block));
        if (watched[1].revents == 0)
            continue;
        const std::size_t count = pipe.Read(block, sizeof block);
        copied += count;
        if (copied > maxBytes)
            return CopyEnd::TooLarge;
        if (!output.Append(block, count))
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
    OutputPipe errorPipe;
    if (pipe.readEnd < 0 || errorPipe.readEnd < 0)
        return {Outcome::Failed, "cannot make a pipe for the repair command's output"};
    const Clock::time_point deadline = Clock::now() + timeout;
    ChildProcess child;
    {
        // Started under the lock, so StopAll either sees it or stops it from starting.
        std::lock_guard lock(mutex);
        if (stopped)
            return {Outcome::Failed, "the service is stopping"};
        std::error_code error;
        child = ChildProcess::Start({"/bin/sh", "-c", command}, upload.Descriptor(), pipe.writeEnd, errorPipe.writeEnd,
                                   error);
        if (error)
            return {Outcome::Failed, fmt::format("repair command could not run: {}", error.message())};
        running.insert(child.Id());
    }
    pipe.CloseWriteEnd();
    errorPipe.CloseWriteEnd();

    ErrorText errors;
    const CopyEnd end = CopyOutput(child, pipe, errorPipe, output, errors, maxOutputBytes, deadline);
    errors.Report();
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
    // No bytes are no repaired replay: the plugin would otherwise be sent an empty one.
    if (output.Size() == 0)
        return {Outcome::Failed, "repair command exited with 0 but wrote nothing"};
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
