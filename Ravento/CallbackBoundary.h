// Every callable the host runs goes through here: no error travels back into the host; it
// becomes one line in the host console instead. The routines handle their file and code-page
// errors where they arise and log them here too, so that every such line is made in one place.
#pragma once

#include <exception>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace plugin {

// Logs "<callbackName> failed: <what>" as one line through moduleConsole. Never throws.
void LogContainedError(std::string_view callbackName, std::string_view what) noexcept;

// The line of a step that failed in a routine, which then ends: "<callbackName> failed: <step>:
// <message> (<code>)", with " <path>" after the step when the step names one. Never throws.
void LogFailedStep(std::string_view callbackName, std::string_view step, std::error_code error,
                   const std::filesystem::path& path = {}) noexcept;

// Runs body; an exception it throws is logged and swallowed. Returns false when it threw.
template <typename Body>
bool ContainErrors(std::string_view callbackName, Body&& body) noexcept
{
    try {
        body();
        return true;
    } catch (const std::exception& error) {
        LogContainedError(callbackName, error.what());
    } catch (...) {
        LogContainedError(callbackName, "unknown error");
    }
    return false;
}

} // namespace plugin
