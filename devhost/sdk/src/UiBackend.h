// The host core's own UI backend. The interface is public (orvane/host/UiBackend.h), so a
// program such as devhost can bring a windowed one through HostOptions.
#pragma once

#include <memory>

#include "orvane/host/UiBackend.h"

namespace devhost {

std::unique_ptr<UiBackend> MakeHeadlessBackend(float displayWidth, float displayHeight);

} // namespace devhost
