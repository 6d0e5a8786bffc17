// Logging of errors that the host callbacks contain.
#include "CallbackBoundary.h"

#include <algorithm>
#include <string>

#include <fmt/core.h>

#include "ModuleConsole.h"

namespace plugin {

void LogContainedError(std::string_view callbackName, std::string_view what) noexcept
{
    try {
        if (!moduleConsole)
            return;
        std::string line = fmt::format("{} failed: {}", callbackName, what);
        // The console shows one line per log call; an error text must not break that.
        std::replace(line.begin(), line.end(), '\n', ' ');
        std::replace(line.begin(), line.end(), '\r', ' ');
        moduleConsole->log(std::move(line));
    } catch (...) {
        // The console itself failed: there is nowhere left to report to.
    }
}

} // namespace plugin
