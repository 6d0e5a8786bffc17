// The calling thread's last system error as the seam reports it: a Windows error number in
// FileErrorCategory() (ReplayFiles.h). Windows takes GetLastError() as it is; POSIX maps errno
// through its one table (posix/SystemError.cpp). Every seam implementation converts through this
// one call.
#pragma once

#include <string>
#include <system_error>

namespace platform {

std::error_code LastSystemError();

// The text Windows gives a Windows error number: FileErrorCategory()'s messages.
std::string SystemErrorMessage(int windowsCode);

} // namespace platform
