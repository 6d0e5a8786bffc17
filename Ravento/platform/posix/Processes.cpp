// POSIX: getpid.
#include "platform/Processes.h"

#include <unistd.h>

namespace platform {

std::uint32_t CurrentProcessId()
{
    return static_cast<std::uint32_t>(::getpid());
}

} // namespace platform
