// Windows: GetCurrentProcessId, and OpenProcess on the id, which fails with "invalid parameter"
// once no process has it.
#include "platform/Processes.h"

#include <windows.h>

namespace platform {

std::uint32_t CurrentProcessId()
{
    return ::GetCurrentProcessId();
}

bool ProcessIsRunning(std::uint32_t processId)
{
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId);
    if (process == nullptr)
        return ::GetLastError() != ERROR_INVALID_PARAMETER;
    // A process that has ended but whose handle someone still holds is not running.
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

} // namespace platform
