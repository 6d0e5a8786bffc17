// Carries out script commands on the host, one at a time: each leaves no game work queued
// behind it, and "settle" waits until the host is quiet, so a script gives the same output
// every run.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "ScriptParser.h"
#include "orvane/host/Host.h"

enum class RunOutcome { Continue, Quit, Failed };

// Where the script's results and devhost's complaints go. devhost writes results (show, cvar)
// to standard output, each line after "= " so they stand apart from the plugin's log lines
// there, and complaints to standard error.
struct ScriptOutput {
    std::function<void(const std::string& line)> result; // "= " already in front
    std::function<void(const std::string& message)> complaint;
};

// The prefix of every result line.
inline constexpr const char* kResultPrefix = "= ";

class CommandRunner {
public:
    CommandRunner(devhost::Host& host, std::chrono::milliseconds settleTimeout, ScriptOutput output);

    RunOutcome Run(const ScriptCommand& command);

private:
    RunOutcome Carry(const ScriptCommand& command);
    RunOutcome Play(const std::string& id, const std::string& date);
    RunOutcome Show();
    RunOutcome PrintVariable(const std::string& name);
    void Result(const std::string& text);
    RunOutcome Fail(const std::string& message);
    std::string SettleFailure() const;

    devhost::Host& host;
    std::chrono::milliseconds settleTimeout;
    ScriptOutput output;
};
