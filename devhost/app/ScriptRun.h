// Runs a whole script against a host: what devhost does with --script or standard input, and
// what the tests run in process to see the same output.
#pragma once

#include <chrono>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "CommandRunner.h"
#include "orvane/host/TextInput.h"

// What a script may hold, from a file or standard input.
inline constexpr devhost::TextLimits kScriptLimits{std::size_t{4} << 20, std::size_t{64} << 10};

// Upper bound on one "settle": a reply that never comes fails the script instead of hanging it.
inline constexpr std::chrono::seconds kSettleTimeout{30};

struct ScriptLine {
    int number = 0;
    ScriptCommand command;
};

// Reads and parses the whole script. Every malformed line is reported ("NAME:LINE: ...") and
// then the result is empty: a typo on a late line runs nothing, rather than running the lines
// before it. Blank and comment lines are left out.
std::optional<std::vector<ScriptLine>> ParseScript(std::istream& script, const std::string& scriptName,
                                                   const ScriptOutput& output);

// Parses the whole script, then runs it line by line; the first failed command ends it, and so
// does stopRequested (a closed window) before a line. Continue means the script ran to its end;
// a script that does not parse is Failed without running anything.
RunOutcome RunScript(devhost::Host& host, std::istream& script, const std::string& scriptName,
                     const ScriptOutput& output, const std::function<bool()>& stopRequested = {});
