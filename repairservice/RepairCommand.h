// The repair itself lies outside this service: an operator-chosen shell command gets the upload
// on standard input and writes the repaired replay to standard output.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <set>
#include <string>

#include <sys/types.h>

namespace repairservice {

class TemporaryFile;

// The exit code by which a repair command says "this replay cannot be repaired".
inline constexpr int kCannotRepairExitCode = 3;

struct RepairResult {
    enum class Outcome { Repaired, CannotRepair, Failed };
    Outcome outcome = Outcome::Failed;
    std::string detail; // why, when Failed
};

// Runs one command (through "/bin/sh -c") per repair, each in its own process group, and kills
// a command with its group when it outlives the timeout, writes more than maxOutputBytes or the
// service stops. The command writes into a pipe that the runner copies to the output file, so
// an endless writer costs a few kilobytes over the cap, never the disk.
class RepairRunner {
public:
    RepairRunner(std::string command, std::chrono::seconds timeout, std::size_t maxOutputBytes);

    // Runs the command on upload; on Repaired the repaired replay is in output.
    RepairResult Repair(TemporaryFile& upload, TemporaryFile& output);
    // Kills every running command; later repairs fail at once.
    void StopAll();

private:
    const std::string command;
    const std::chrono::seconds timeout;
    const std::size_t maxOutputBytes;
    std::mutex mutex;
    std::set<pid_t> running; // process group ids
    bool stopped = false;
};

} // namespace repairservice
