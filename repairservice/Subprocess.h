// Child programs in a process group of their own, so that one kill ends everything a command
// started. A child gets the descriptors it is given as standard input, output and error and
// inherits no other descriptor, no blocked signal and no ignored SIGPIPE from the service.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <system_error>
#include <vector>

namespace repairservice {

class ChildProcess {
public:
    // argv[0] is looked up on PATH. An invalid result (error set) when it cannot be started.
    static ChildProcess Start(const std::vector<std::string>& argv, int input, int output, int errors,
                              std::error_code& error);

    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A child still running then is killed with its group and reaped.
    ~ChildProcess();

    // The child's process id, which is also its process group id.
    pid_t Id() const { return pid; }
    // A descriptor that polls readable once the child has exited.
    int ExitNotice() const { return exitNotice; }

    // Waits until the child exits or timeout passes; true when it exited. The child stays
    // unreaped, so its process group id cannot be reused yet.
    bool WaitForExit(std::chrono::milliseconds timeout);
    // Sends SIGKILL to the child's whole process group. Until Reap, safe from another thread.
    void KillGroup();
    // Kills whatever is left in the child's group, waits for the child and returns its exit
    // status: -1 when a signal ended it.
    int Reap();

private:
    pid_t pid = -1;
    int exitNotice = -1; // a pidfd: readable once the child has exited
};

} // namespace repairservice
