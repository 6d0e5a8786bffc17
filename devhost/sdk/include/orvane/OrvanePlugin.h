// The base class of every plugin object. The host fills both handles before onLoad.
#pragma once

#include <memory>

#include "orvane/CVarManagerWrapper.h"
#include "orvane/GameWrapper.h"
#include "orvane/SdkApi.h"

namespace Orvane::Plugin {

// No virtual destructor: the host never deletes a plugin through this base; the module's
// shared ownership carries a deleter for the real class.
class ORVANE_PLUGIN_BASE_API OrvanePlugin {
public:
    OrvanePlugin();
    OrvanePlugin(const OrvanePlugin& other);
    OrvanePlugin(OrvanePlugin&& other) noexcept;
    ~OrvanePlugin();
    OrvanePlugin& operator=(const OrvanePlugin& other);
    OrvanePlugin& operator=(OrvanePlugin&& other) noexcept;

    virtual void onLoad();
    virtual void onUnload();

    std::shared_ptr<CVarManagerWrapper> cvarManager;
    std::shared_ptr<GameWrapper> gameWrapper;
};

} // namespace Orvane::Plugin
