// Runs a whole script against a host: what devhost does with --script or standard input, and
// what the tests run in process to see the same output.
#pragma once

#include <chrono>
#include <functional>
#include <istream>
#include <string>

#include "CommandRunner.h"
#include "orvane/host/TextInput.h"

// What a script may hold, from a file or standard input.
inline constexpr devhost::TextLimits kScriptLimits{std::size_t{4} << 20, std::size_t{64} << 10};

// Upper bound on one "settle": a reply that never comes fails the line instead of the run.
inline constexpr std::chrono::seconds kSettleTimeout{30};

// Runs the script line by line; the first malformed line or failed command ends it, and so does
// stopRequested (a closed window) before a line. Continue means the script ran to its end.
// Complaints name the script and line: "NAME:LINE: ...".
RunOutcome RunScript(devhost::Host& host, std::istream& script, const std::string& scriptName,
                     const ScriptOutput& output, const std::function<bool()>& stopRequested = {});
