#include "ConsoleOutput.h"

#include <cstdio>
#include <exception>

#include <fmt/format.h>

namespace devhost {
namespace {

ConsoleOutput::Sink StreamSink(std::FILE* stream)
{
    return [stream](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stream);
        std::fputc('\n', stream);
        // Flushed per line, so plugin and host lines keep their order in a shared terminal or pipe.
        std::fflush(stream);
    };
}

} // namespace

ConsoleOutput::ConsoleOutput(Sink pluginSink, Sink hostSink)
    : pluginSink(pluginSink ? std::move(pluginSink) : StreamSink(stdout)),
      hostSink(hostSink ? std::move(hostSink) : StreamSink(stderr))
{
}

void ConsoleOutput::PluginLine(const std::string& text)
{
    std::lock_guard lock(mutex);
    pluginLines.push_back(text);
    pluginSink(text);
}

void ConsoleOutput::HostLine(const std::string& text)
{
    std::lock_guard lock(mutex);
    hostSink(text);
}

std::vector<std::string> ConsoleOutput::PluginLines() const
{
    std::lock_guard lock(mutex);
    return pluginLines;
}

void ConsoleOutput::RunContained(const std::string& what, const std::function<void()>& code)
{
    try {
        code();
    } catch (const std::exception& error) {
        HostLine(fmt::format("{} threw: {}", what, error.what()));
    } catch (...) {
        HostLine(fmt::format("{} threw an unknown exception", what));
    }
}

} // namespace devhost
