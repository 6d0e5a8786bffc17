#include "TemporaryFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace repairservice {

TemporaryFile::TemporaryFile(const std::filesystem::path& folder)
{
    const std::filesystem::path base = folder.empty() ? std::filesystem::temp_directory_path() : folder;
    std::string pattern = (base / "ravento-upload-XXXXXX").string();
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        throw std::system_error(errno, std::system_category(), "cannot create a temporary file in " + base.string());
    ::unlink(pattern.c_str());
}

TemporaryFile::~TemporaryFile()
{
    ::close(fd);
}

bool TemporaryFile::Append(const char* data, std::size_t size)
{
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
