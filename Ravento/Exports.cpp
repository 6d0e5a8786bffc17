// The module's registration record and the entry points that create and release the one
// plugin object.
#include "Exports.h"

#include <utility>

#include "Ravento.h"

std::shared_ptr<Orvane::Plugin::OrvanePlugin> pluginHolder;

namespace {

// The plugin base has no virtual destructor: the object must die as a Ravento.
void DestroyPlugin(Ravento* plugin)
{
    delete plugin;
}

} // namespace

extern "C" {

Orvane::Plugin::PluginRegistration exports = {
    Orvane::Plugin::kSdkRevision,
    RAVENTO_DECLARING_FILE,
    kPluginName,
    "write a plugin description here",
    "1.0",
    1,
    &getPlugin,
    &deleteMe,
};

std::shared_ptr<Orvane::Plugin::OrvanePlugin>* getPlugin() noexcept
{
    if (pluginHolder)
        return &pluginHolder;
    // Allocated on its own (not make_shared) so the deleter can destroy it as a Ravento.
    Ravento* plugin = new Ravento();
    pluginHolder = std::shared_ptr<Orvane::Plugin::OrvanePlugin>(plugin, &DestroyPlugin);
    return &pluginHolder;
}

void deleteMe() noexcept
{
    // Empty the holder before the object can die, so nothing reaches a half-destroyed plugin.
    std::shared_ptr<Orvane::Plugin::OrvanePlugin> released = std::exchange(pluginHolder, nullptr);
}

} // extern "C"
