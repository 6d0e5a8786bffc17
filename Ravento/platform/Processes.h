// Which process this is: the repaired-replay write puts it into its temporary names, so that
// two processes never pick the same one.
#pragma once

#include <cstdint>

namespace platform {

std::uint32_t CurrentProcessId();

} // namespace platform
