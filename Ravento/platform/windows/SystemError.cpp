// Windows: GetLastError() becomes a std::error_code here and nowhere else.
#include "platform/SystemError.h"

#include <windows.h>

namespace platform {

std::error_code LastSystemError()
{
    return {static_cast<int>(::GetLastError()), std::system_category()};
}

} // namespace platform
