#include "TemporaryFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace repairservice {

namespace {

// An unlinked file in folder, open for reading and writing.
int MakeDiskFile(const std::filesystem::path& folder)
{
    const std::filesystem::path base = folder.empty() ? std::filesystem::temp_directory_path() : folder;
    std::string pattern = (base / "ravento-upload-XXXXXX").string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        throw std::system_error(errno, std::system_category(), "cannot create a temporary file in " + base.string());
    ::unlink(pattern.c_str());
    return fd;
}

} // namespace

TemporaryFile::TemporaryFile(const std::filesystem::path& folder, std::size_t memoryBytes)
    : folder(folder), memoryBytes(memoryBytes)
{
    if (memoryBytes > 0)
        fd = ::memfd_create("ravento-upload", MFD_CLOEXEC);
    inMemory = fd >= 0;
    if (!inMemory)
        fd = MakeDiskFile(folder);
}

TemporaryFile::~TemporaryFile()
{
    ::close(fd);
}

bool TemporaryFile::Append(const char* data, std::size_t size)
{
    if (inMemory && Size() + size > memoryBytes && !MoveToDisk())
        return false;
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Copies what memory holds into a disk file, which then takes the memfd's place (and its
// position: the end, where the next append goes).
bool TemporaryFile::MoveToDisk()
{
    int disk = -1;
    try {
        disk = MakeDiskFile(folder);
    } catch (const std::system_error&) {
        return false;
    }
    const std::size_t size = Size();
    off_t copied = 0;
    while (static_cast<std::size_t>(copied) < size) {
        const ssize_t count = ::sendfile(disk, fd, &copied, size - static_cast<std::size_t>(copied));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            ::close(disk);
            return false;
        }
    }
    ::close(fd);
    fd = disk;
    inMemory = false;
    return true;
}

long TemporaryFile::ReadAt(std::size_t offset, char* buffer, std::size_t size) const
{
    ssize_t count;
    while ((count = ::pread(fd, buffer, size, static_cast<off_t>(offset))) < 0 && errno == EINTR) {
    }
    return static_cast<long>(count);
}

bool TemporaryFile::Rewind()
{
    return ::lseek(fd, 0, SEEK_SET) == 0;
}

std::size_t TemporaryFile::Size() const
{
    struct stat status {};
    return ::fstat(fd, &status) == 0 ? static_cast<std::size_t>(status.st_size) : 0;
}

} // namespace repairservice
