// Which process this is, and whether another one still runs: the repaired-replay write names its
// temporary files after their process, so no process settles a file another one is writing.
#pragma once

#include <cstdint>

namespace platform {

std::uint32_t CurrentProcessId();

// False only when no process with this id runs (a process that exists but may not be queried
// still counts as running).
bool ProcessIsRunning(std::uint32_t processId);

} // namespace platform
