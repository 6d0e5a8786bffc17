// POSIX: getpid, and kill with signal 0, which checks for the process without touching it.
#include "platform/Processes.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

std::uint32_t CurrentProcessId()
{
    return static_cast<std::uint32_t>(::getpid());
}

bool ProcessIsRunning(std::uint32_t processId)
{
    // 0, and ids past the largest pid_t (which come out negative), would signal process groups.
    const auto pid = static_cast<pid_t>(processId);
    if (pid <= 0)
        return false;
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

} // namespace platform
