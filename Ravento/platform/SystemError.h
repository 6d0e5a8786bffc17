// The calling thread's last system error as a std::error_code: errno on POSIX, GetLastError()
// on Windows. Every seam implementation converts through this one call.
#pragma once

#include <system_error>

namespace platform {

std::error_code LastSystemError();

} // namespace platform
