// Carries out script commands on the host. Results the script asked for (show, cvar) go to
// standard output; what went wrong goes to standard error.
#pragma once

#include <chrono>

#include "ScriptParser.h"
#include "orvane/host/Host.h"

enum class RunOutcome { Continue, Quit, Failed };

class CommandRunner {
public:
    CommandRunner(orvane::host::Host& host, std::chrono::milliseconds settleTimeout);

    RunOutcome Run(const ScriptCommand& command);

private:
    RunOutcome Show();
    RunOutcome PrintVariable(const std::string& name);

    orvane::host::Host& host;
    std::chrono::milliseconds settleTimeout;
};
