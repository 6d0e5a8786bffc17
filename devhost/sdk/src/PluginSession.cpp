#include "PluginSession.h"

#include <exception>

#include <fmt/format.h>

#include "ConsoleOutput.h"
#include "SdkAccess.h"

namespace devhost {
namespace {

thread_local PluginSession* currentSession = nullptr;

// Restores the previous session, so a host call made from inside a callable nests correctly.
class CurrentSessionScope {
public:
    explicit CurrentSessionScope(PluginSession* session) : previous(currentSession) { currentSession = session; }
    ~CurrentSessionScope() { currentSession = previous; }
    CurrentSessionScope(const CurrentSessionScope&) = delete;
    CurrentSessionScope& operator=(const CurrentSessionScope&) = delete;

private:
    PluginSession* previous;
};

} // namespace

PluginSession::PluginSession(HostServices services)
    : services(services), consoleHandle(SdkAccess::MakeConsole(*this)), gameHandle(SdkAccess::MakeGame(*this))
{
}

PluginSession::~PluginSession() = default;

PluginSession* PluginSession::Current()
{
    return currentSession;
}

void PluginSession::Enter()
{
    inFlight.fetch_add(1);
}

void PluginSession::Leave()
{
    if (inFlight.fetch_sub(1) == 1) {
        std::lock_guard lock(idleMutex);
        idle.notify_all();
    }
}

void PluginSession::RunEntered(std::function<void()>&& callable, const char* what)
{
    std::function<void()> local = std::move(callable);
    if (!closed.load()) {
        CurrentSessionScope scope(this);
        services.output.RunContained(fmt::format("plugin {}", what), local);
    }
    local = nullptr;
    Leave();
}

void PluginSession::Run(std::function<void()>&& callable, const char* what)
{
    Enter();
    RunEntered(std::move(callable), what);
}

void PluginSession::WaitUntilIdle()
{
    std::unique_lock lock(idleMutex);
    idle.wait(lock, [this] { return inFlight.load() == 0; });
}

} // namespace devhost
