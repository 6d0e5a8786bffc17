// Windows: GetLastError() becomes a std::error_code here and nowhere else.
#include "platform/SystemError.h"

#include <windows.h>

#include "platform/ReplayFiles.h"

namespace platform {

std::error_code LastSystemError()
{
    return ReplayFileError(static_cast<int>(::GetLastError()));
}

std::string SystemErrorMessage(int windowsCode)
{
    return std::system_category().message(windowsCode);
}

} // namespace platform
