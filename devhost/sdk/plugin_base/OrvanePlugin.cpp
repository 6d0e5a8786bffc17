// The plugin base's members. Compiled into each plugin module, which exports them.
#include "orvane/OrvanePlugin.h"

namespace Orvane::Plugin {

OrvanePlugin::OrvanePlugin() = default;
OrvanePlugin::OrvanePlugin(const OrvanePlugin& other) = default;
OrvanePlugin::OrvanePlugin(OrvanePlugin&& other) noexcept = default;
// Members go in reverse order: gameWrapper first, then cvarManager.
OrvanePlugin::~OrvanePlugin() = default;
OrvanePlugin& OrvanePlugin::operator=(const OrvanePlugin& other) = default;
OrvanePlugin& OrvanePlugin::operator=(OrvanePlugin&& other) noexcept = default;

void OrvanePlugin::onLoad() {}
void OrvanePlugin::onUnload() {}

} // namespace Orvane::Plugin
