// Child processes for the benchmarks that measure whole programs: started with extra
// environment, read line by line, and waited for with their peak memory; their CPU time can be
// read while they run.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class Process {
public:
    // Starts program with arguments; environment entries ("NAME=value") are added to this
    // process's own. Standard output comes back through ReadLine when readOutput is true,
    // else goes to /dev/null; standard error goes to errorFile (or /dev/null when empty).
    Process(const std::vector<std::string>& command, const std::vector<std::string>& environment, bool readOutput,
            const std::filesystem::path& errorFile = {});
    ~Process(); // stops a child that is still running
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // The next line of standard output without its newline; null at its end.
    std::optional<std::string> ReadLine();

    struct Exit {
        int status = -1; // the exit code, or -1 when a signal ended it
        std::size_t peakKilobytes = 0; // the child's peak resident memory
    };
    Exit Wait();
    void Stop(); // SIGTERM, then Wait
    // User plus system time of all the child's threads so far, to the nanosecond (the kernel's
    // per-process CPU clock; /proc's figures count in 10 ms ticks).
    std::chrono::duration<double> CpuTime() const;
    pid_t Pid() const { return pid; }

private:
    pid_t pid = -1;
    std::FILE* output = nullptr;
};

// Runs the command to its end; returns its exit and its time from start to end.
struct TimedExit {
    Process::Exit exit;
    std::chrono::duration<double> seconds{};
};
TimedExit RunTimed(const std::vector<std::string>& command);
