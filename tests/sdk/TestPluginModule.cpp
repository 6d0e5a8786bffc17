// The test plugin as a loadable module: its registration record and entry points under the
// names the host looks up.
#include "TestPlugin.h"

extern "C" {

ORVANE_DLL_EXPORT std::shared_ptr<Orvane::Plugin::OrvanePlugin>* getPlugin()
{
    return TestGetPlugin();
}

ORVANE_DLL_EXPORT void deleteMe()
{
    TestDeleteMe();
}

ORVANE_DLL_EXPORT extern const Orvane::Plugin::PluginRegistration exports;
const Orvane::Plugin::PluginRegistration exports = {
    Orvane::Plugin::kSdkRevision,
    __FILE__,
    "TestPlugin",
    "a plugin for the host's tests",
    "0.1",
    1,
    &getPlugin,
    &deleteMe,
};

} // extern "C"
