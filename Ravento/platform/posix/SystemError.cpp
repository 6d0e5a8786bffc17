// POSIX: errno becomes a std::error_code here and nowhere else.
#include "platform/SystemError.h"

#include <cerrno>

namespace platform {

std::error_code LastSystemError()
{
    return {errno, std::generic_category()};
}

} // namespace platform
