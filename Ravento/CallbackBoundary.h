// Every callable the host runs goes through here: no error travels back into the host; it
// becomes one line in the host console instead.
#pragma once

#include <exception>
#include <string_view>

namespace plugin {

// Logs "<callbackName> failed: <what>" as one line through moduleConsole. Never throws.
void LogContainedError(std::string_view callbackName, std::string_view what) noexcept;

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
