// The host console's output: plugin log lines (exactly as logged, and recorded) and the host's
// own lines. Callable from any thread; each line is written whole.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace devhost {

class ConsoleOutput {
public:
    using Sink = std::function<void(const std::string&)>;

    // Empty sinks write to standard output (plugin) and standard error (host).
    ConsoleOutput(Sink pluginSink, Sink hostSink);

    void PluginLine(const std::string& text);
    void HostLine(const std::string& text);
    std::vector<std::string> PluginLines() const;

    // Runs plugin code; an exception that escapes it becomes one host line, "<what> threw: ...".
    void RunContained(const std::string& what, const std::function<void()>& code);

private:
    mutable std::mutex mutex;
    Sink pluginSink;
    Sink hostSink;
    std::vector<std::string> pluginLines;
};

} // namespace devhost
