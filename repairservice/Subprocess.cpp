// Child processes through posix_spawn and two pipes, pumped with poll so that neither side can
// block the other on a full pipe.
#include "Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace repairservice {
namespace {

std::error_code LastError()
{
    return {errno, std::system_category()};
}

// Closes a descriptor once, when it goes out of scope or when asked.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return fd; }
    void Reset(int newFd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = newFd;
    }
    void Close() { Reset(-1); }

private:
    int fd;
};

std::error_code MakePipe(Descriptor& readEnd, Descriptor& writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return LastError();
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    return {};
}

std::error_code Spawn(const std::vector<std::string>& argv, int childStdin, int childStdout, pid_t& pid)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childStdin, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, childStdout, STDOUT_FILENO);
    int result = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return {result, std::system_category()};
}

// Writes input and reads output until the child closes its standard output.
std::error_code Pump(Descriptor& toChild, Descriptor& fromChild, std::string_view input, std::string& output)
{
    std::size_t written = 0;
    if (input.empty())
        toChild.Close();
    char buffer[65536];
    while (fromChild.Get() >= 0) {
        pollfd fds[2] = {{fromChild.Get(), POLLIN, 0}, {toChild.Get(), POLLOUT, 0}};
        if (::poll(fds, toChild.Get() >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return LastError();
        }
        if (fds[0].revents != 0) {
            ssize_t count = ::read(fromChild.Get(), buffer, sizeof buffer);
            if (count < 0 && errno != EINTR)
                return LastError();
            if (count == 0)
                fromChild.Close();
            if (count > 0)
                output.append(buffer, static_cast<std::size_t>(count));
        }
        if (toChild.Get() >= 0 && fds[1].revents != 0) {
            ssize_t count = ::write(toChild.Get(), input.data() + written, input.size() - written);
            // A child that stops reading early (EPIPE) has simply taken what it wanted.
            if (count < 0 && errno != EINTR && errno != EAGAIN)
                toChild.Close();
            if (count > 0)
                written += static_cast<std::size_t>(count);
            if (written == input.size())
                toChild.Close();
        }
    }
    return {};
}

int WaitForExit(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, std::string_view input, std::error_code& error)
{
    ProcessResult result;
    Descriptor stdinRead, stdinWrite, stdoutRead, stdoutWrite;
    if ((error = MakePipe(stdinRead, stdinWrite)) || (error = MakePipe(stdoutRead, stdoutWrite)))
        return result;
    // A blocking write of a large upload would wait for the child to read it all, while the child
    // waits for us to read its output: both would hang.
    if (::fcntl(stdinWrite.Get(), F_SETFL, O_NONBLOCK) != 0) {
        error = LastError();
        return result;
    }

    pid_t pid = 0;
    if ((error = Spawn(argv, stdinRead.Get(), stdoutWrite.Get(), pid)))
        return result;
    stdinRead.Close();
    stdoutWrite.Close();

    error = Pump(stdinWrite, stdoutRead, input, result.output);
    stdinWrite.Close();
    stdoutRead.Close();
    result.exitCode = WaitForExit(pid);
    return result;
}

} // namespace repairservice
