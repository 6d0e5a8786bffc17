// The program's own open, read, write, fsync, fstat, close, stat, lstat, access, mkdir, link,
// unlink, rename and renameat2:
// the executable's definitions come before the C library's for every caller in it, the plugin's
// POSIX seam included.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>

#include "pipeline/SystemCallFaults.h"

using namespace system_call_faults;

namespace {

template <typename Function>
Function Real(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

int Failed(int error)
{
    errno = error;
    return -1;
}

int OpenCounted(const char* path, int flags, mode_t mode)
{
    static const auto open = Real<int (*)(const char*, int, ...)>("open");
    if (StrikesPath(path))
        return Failed((flags & O_CREAT) != 0 ? ENOSPC : EACCES);
    const int fd = open(path, flags, mode);
    if (fd >= 0)
        Track(fd, path);
    return fd;
}

mode_t ModeArgument(int flags, va_list arguments)
{
    return (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

} // namespace

void system_call_faults::InstallInterposers() {}

extern "C" {

int open(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    return OpenCounted(path, flags, mode);
}

// Callers built with 64-bit file offsets call open64: the same call.
int open64(const char* path, int flags, ...) __attribute__((alias("open")));

ssize_t read(int fd, void* buffer, size_t size)
{
    static const auto real = Real<ssize_t (*)(int, void*, size_t)>("read");
    return StrikesHandle(fd) ? Failed(EIO) : real(fd, buffer, size);
}

ssize_t write(int fd, const void* buffer, size_t size)
{
    static const auto real = Real<ssize_t (*)(int, const void*, size_t)>("write");
    return StrikesHandle(fd) ? Failed(ENOSPC) : real(fd, buffer, size);
}

int fsync(int fd)
{
    static const auto real = Real<int (*)(int)>("fsync");
    return StrikesFlush(fd) ? Failed(EIO) : real(fd);
}

int fstat(int fd, struct stat* status)
{
    static const auto real = Real<int (*)(int, struct stat*)>("fstat");
    return StrikesHandle(fd) ? Failed(EIO) : real(fd, status);
}

// A failed close still releases the descriptor, as Linux's does.
int close(int fd)
{
    static const auto real = Real<int (*)(int)>("close");
    const bool strikes = StrikesHandle(fd);
    Untrack(fd);
    const int result = real(fd);
    return strikes ? Failed(EIO) : result;
}

int stat(const char* path, struct stat* status)
{
    static const auto real = Real<int (*)(const char*, struct stat*)>("stat");
    return StrikesPath(path) ? Failed(EIO) : real(path, status);
}

int lstat(const char* path, struct stat* status)
{
    static const auto real = Real<int (*)(const char*, struct stat*)>("lstat");
    return StrikesPath(path) ? Failed(EIO) : real(path, status);
}

int access(const char* path, int mode)
{
    static const auto real = Real<int (*)(const char*, int)>("access");
    return StrikesPath(path) ? Failed(EACCES) : real(path, mode);
}

int mkdir(const char* path, mode_t mode)
{
    static const auto real = Real<int (*)(const char*, mode_t)>("mkdir");
    return StrikesPath(path) ? Failed(ENOSPC) : real(path, mode);
}

int link(const char* from, const char* to)
{
    static const auto real = Real<int (*)(const char*, const char*)>("link");
    return StrikesPath(to) ? Failed(EIO) : real(from, to);
}

int unlink(const char* path)
{
    static const auto real = Real<int (*)(const char*)>("unlink");
    return StrikesPath(path) ? Failed(EBUSY) : real(path);
}

int rename(const char* from, const char* to)
{
    static const auto real = Real<int (*)(const char*, const char*)>("rename");
    return StrikesPath(to) ? Failed(EIO) : real(from, to);
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags)
{
    static const auto real = Real<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
    if ((flags & RENAME_NOREPLACE) != 0 && NoReplaceUnsupported() && UnderRoot(to))
        return Failed(EINVAL);
    return StrikesPath(to) ? Failed(EIO) : real(fromFolder, from, toFolder, to, flags);
}

} // extern "C"
