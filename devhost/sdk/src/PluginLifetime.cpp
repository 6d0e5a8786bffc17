// Loading and unloading the plugin: the registration record, getPlugin, the two handles, onLoad;
// and at the end onUnload, dropping whatever of the plugin is still pending, deleteMe, and
// unloading the module.
#include <cassert>
#include <exception>

#include <fmt/format.h>

#include "HostState.h"
#include "orvane/PluginWindow.h"

namespace devhost {
namespace {

using Orvane::Plugin::PluginRegistration;

const char* TextOrNone(const char* text)
{
    return text ? text : "(none)";
}

std::optional<std::string> CheckRecord(const PluginRegistration& record)
{
    if (record.sdkRevision != Orvane::Plugin::kSdkRevision)
        return fmt::format("the plugin was built for SDK revision {}, this host runs revision {}", record.sdkRevision,
                           Orvane::Plugin::kSdkRevision);
    if (record.pluginKind != 1)
        return fmt::format("unknown plugin kind {} (this host loads kind 1)", record.pluginKind);
    if (!record.createEntry || !record.releaseEntry)
        return std::string("the registration record lacks its getPlugin or deleteMe entry");
    return std::nullopt;
}

// Entries the host calls outside any session (deleteMe after the session closed).
void CallPluginEntry(ConsoleOutput& output, const char* what, const std::function<void()>& entry)
{
    output.RunContained(fmt::format("plugin {}", what), entry);
}

} // namespace

std::optional<std::string> Host::LoadPluginModule(const std::filesystem::path& modulePath)
{
    if (HasPlugin())
        return std::string("a plugin is already loaded");
    LoadedModule module;
    std::string loaderMessage;
    if (std::error_code error = LoadedModule::Open(modulePath, module, loaderMessage)) {
        std::string detail = loaderMessage.empty() ? error.message() : loaderMessage;
        return fmt::format("cannot load plugin module {}: {}", modulePath.string(), detail);
    }
    auto* record = static_cast<const PluginRegistration*>(module.Symbol(ORVANE_EXPORTS_SYMBOL));
    if (!record)
        return fmt::format("{} is not an Orvane plugin: it exports no \"{}\" record", modulePath.string(),
                           ORVANE_EXPORTS_SYMBOL);
    state->output.HostLine(fmt::format("Loaded module {}", modulePath.string()));
    if (auto error = LoadPlugin(*record))
        return error;
    std::lock_guard lock(state->pluginMutex);
    state->module = std::move(module);
    return std::nullopt;
}

std::optional<std::string> Host::LoadPlugin(const PluginRegistration& record)
{
    if (HasPlugin())
        return std::string("a plugin is already loaded");
    if (auto error = CheckRecord(record))
        return error;
    state->output.HostLine(fmt::format("Registration record: {} {}, SDK revision {}, kind {}, \"{}\", from {}",
                                       TextOrNone(record.typeName), TextOrNone(record.versionText), record.sdkRevision,
                                       record.pluginKind, TextOrNone(record.description),
                                       TextOrNone(record.sourceFile)));

    auto& session = *state->sessions.emplace_back(std::make_unique<PluginSession>(state->Services()));
    std::shared_ptr<Orvane::Plugin::OrvanePlugin> plugin;
    state->game.Call([&] {
        session.Run(
            [&] {
                std::shared_ptr<Orvane::Plugin::OrvanePlugin>* holder = record.createEntry();
                if (holder)
                    plugin = *holder; // the host's own reference
            },
            "getPlugin");
    });
    if (!plugin) {
        session.Close();
        state->game.Call([&] { CallPluginEntry(state->output, "deleteMe", record.releaseEntry); });
        return std::string("getPlugin returned no plugin object");
    }
    state->output.HostLine(fmt::format("getPlugin: plugin object at {}", static_cast<void*>(plugin.get())));

    plugin->cvarManager = session.ConsoleHandle();
    plugin->gameWrapper = session.GameHandle();
    {
        std::lock_guard lock(state->pluginMutex);
        state->session = &session;
        state->plugin = plugin;
        state->record = &record;
    }
    if (auto* window = dynamic_cast<Orvane::Plugin::PluginWindow*>(plugin.get())) {
        state->ui.AttachWindow(session, *window);
        state->output.HostLine("AttachUiContext: the plugin's window has the host's UI context");
    }
    state->game.Call([&] { session.Run([&] { plugin->onLoad(); }, "onLoad"); });
    state->output.HostLine(fmt::format("onLoad: {} loaded", TextOrNone(record.typeName)));
    return std::nullopt;
}

void Host::UnloadPlugin()
{
    PluginSession* session = nullptr;
    std::shared_ptr<Orvane::Plugin::OrvanePlugin> plugin;
    const PluginRegistration* record = nullptr;
    {
        std::lock_guard lock(state->pluginMutex);
        session = state->session;
        plugin = state->plugin;
        record = state->record;
    }
    if (!session)
        return;
    assert(PluginSession::Current() != session
           && "UnloadPlugin waits for the plugin's callables, so one of them cannot unload the plugin");

    state->game.Call([&] { session->Run([&] { plugin->onUnload(); }, "onUnload"); });
    // Closed first, so nothing more starts; dropped next, so nothing more is queued; then the
    // callables already on their way are waited for.
    session->Close();
    state->game.Drop(*session);
    state->http.Drop(*session);
    state->ui.DetachWindow();
    session->WaitUntilIdle();

    std::string typeName = TextOrNone(record->typeName); // the record goes with the module
    LoadedModule module;
    {
        std::lock_guard lock(state->pluginMutex);
        state->session = nullptr;
        state->plugin.reset();
        state->record = nullptr;
        module = std::move(state->module);
    }
    state->game.Call([&] {
        plugin.reset(); // the host's reference goes before deleteMe
        CallPluginEntry(state->output, "deleteMe", record->releaseEntry);
    });
    module.Close();
    state->output.HostLine(fmt::format("Unloaded plugin {}", typeName));
}

bool Host::HasPlugin() const
{
    std::lock_guard lock(state->pluginMutex);
    return state->session != nullptr;
}

const Orvane::Plugin::PluginRegistration* Host::Registration() const
{
    std::lock_guard lock(state->pluginMutex);
    return state->record;
}

std::shared_ptr<Orvane::Plugin::OrvanePlugin> Host::Plugin() const
{
    std::lock_guard lock(state->pluginMutex);
    return state->plugin;
}

} // namespace devhost
