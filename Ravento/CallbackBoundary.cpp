// Logging of errors that the host callbacks contain.
#include "CallbackBoundary.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include <fmt/core.h>

#include "FileSystem.h"
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

void LogFailedStep(std::string_view callbackName, std::string_view step, std::error_code error,
                   const std::filesystem::path& path) noexcept
{
    try {
        const std::string what = path.empty() ? std::string(step) : fmt::format("{} {}", step, LogText(path));
        // The number as the seam reports it (a Windows error number for file calls), as players quote it.
        LogContainedError(callbackName,
                          fmt::format("{}: {} ({})", what, error.message(), static_cast<std::uint32_t>(error.value())));
    } catch (...) {
        // Out of memory for the line: nothing left to report with.
    }
}

} // namespace plugin
