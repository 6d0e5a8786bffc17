#include "Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

extern char** environ;

namespace {

std::vector<char*> PointersTo(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& extra)
{
    std::vector<std::string> environment(extra);
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('=') + 1);
        bool replaced = false;
        for (const std::string& added : extra)
            replaced = replaced || added.rfind(name, 0) == 0;
        if (!replaced)
            environment.push_back(text);
    }
    return environment;
}

} // namespace

Process::Process(const std::vector<std::string>& command, const std::vector<std::string>& environment, bool readOutput,
                 const std::filesystem::path& errorFile)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeEnds[2] = {-1, -1};
    if (readOutput) {
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    std::string errorPath = errorFile.empty() ? std::string("/dev/null") : errorFile.string();
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);

    std::vector<std::string> arguments(command);
    std::vector<std::string> fullEnvironment = EnvironmentWith(environment);
    int error = posix_spawnp(&pid, arguments.front().c_str(), &actions, nullptr, PointersTo(arguments).data(),
                             PointersTo(fullEnvironment).data());
    posix_spawn_file_actions_destroy(&actions);
    if (readOutput) {
        ::close(pipeEnds[1]);
        output = ::fdopen(pipeEnds[0], "r");
    }
    if (error != 0)
        throw std::runtime_error("cannot start " + command.front() + ": " + std::strerror(error));
}

Process::~Process()
{
    if (pid > 0)
        Stop();
    if (output)
        std::fclose(output);
}

std::optional<std::string> Process::ReadLine()
{
    std::string line;
    for (int c = std::fgetc(output); c != EOF; c = std::fgetc(output)) {
        if (c == '\n')
            return line;
        line += static_cast<char>(c);
    }
    if (line.empty())
        return std::nullopt;
    return line;
}

Process::Exit Process::Wait()
{
    Exit exit;
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            return exit;
    }
    pid = -1;
    exit.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    exit.peakKilobytes = static_cast<std::size_t>(usage.ru_maxrss);
    return exit;
}

std::chrono::duration<double> Process::CpuTime() const
{
    clockid_t clock{};
    struct timespec time {};
    if (::clock_getcpuclockid(pid, &clock) != 0 || ::clock_gettime(clock, &time) != 0)
        throw std::runtime_error("cannot read the CPU time of a child process");
    return std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec);
}

void Process::Stop()
{
    ::kill(pid, SIGTERM);
    Wait();
}

TimedExit RunTimed(const std::vector<std::string>& command)
{
    auto start = std::chrono::steady_clock::now();
    Process process(command, {}, false);
    TimedExit result;
    result.exit = process.Wait();
    result.seconds = std::chrono::steady_clock::now() - start;
    return result;
}
