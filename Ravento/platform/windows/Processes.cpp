// Windows: GetCurrentProcessId.
#include "platform/Processes.h"

#include <windows.h>

namespace platform {

std::uint32_t CurrentProcessId()
{
    return ::GetCurrentProcessId();
}

} // namespace platform
