// POSIX (Linux): the kernel names the running executable in /proc/self/exe.
#include "../ExecutablePath.h"

std::error_code ExecutablePath(std::filesystem::path& path)
{
    std::error_code error;
    path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error;
}
