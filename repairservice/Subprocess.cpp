// posix_spawn with the file actions and attributes that keep a child to itself, and a pidfd so
// that waiting for it can time out.
#include "Subprocess.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

extern char** environ;

namespace repairservice {
namespace {

std::error_code LastError()
{
    return {errno, std::system_category()};
}

class SpawnSettings {
public:
    SpawnSettings(int input, int output, int errors)
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errors, STDERR_FILENO);
        // Sockets of other clients and the service's own files stay out of the child.
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

        posix_spawnattr_init(&attributes);
        posix_spawnattr_setpgroup(&attributes, 0);
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSettings()
    {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

} // namespace

ChildProcess ChildProcess::Start(const std::vector<std::string>& argv, int input, int output, int errors,
                                 std::error_code& error)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    SpawnSettings settings(input, output, errors);
    ChildProcess child;
    int failed = ::posix_spawnp(&child.pid, args[0], &settings.actions, &settings.attributes, args.data(), environ);
    if (failed != 0) {
        child.pid = -1;
        error = {failed, std::system_category()};
        return child;
    }
    child.exitNotice = static_cast<int>(::syscall(SYS_pidfd_open, child.pid, 0));
    if (child.exitNotice < 0)
        error = LastError(); // the destructor kills and reaps the child
    return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid(std::exchange(other.pid, -1)), exitNotice(std::exchange(other.exitNotice, -1))
{
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept
{
    std::swap(pid, other.pid);
    std::swap(exitNotice, other.exitNotice);
    return *this;
}

ChildProcess::~ChildProcess()
{
    if (pid > 0)
        Reap();
    if (exitNotice >= 0)
        ::close(exitNotice);
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd exited{exitNotice, POLLIN, 0};
        int ready = ::poll(&exited, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready >= 0 || errno != EINTR)
            return ready > 0;
    }
}

void ChildProcess::KillGroup()
{
    if (pid > 0)
        ::kill(-pid, SIGKILL);
}

int ChildProcess::Reap()
{
    KillGroup();
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace repairservice
