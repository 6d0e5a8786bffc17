#include "../UploadFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

namespace orvane::host {

std::unique_ptr<UploadFile> UploadFile::Open(const std::string& path, std::string& error)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        error = fmt::format("cannot open {}: {}", path, std::strerror(errno));
        return nullptr;
    }
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = fmt::format("{} is not a regular file", path);
        close(descriptor);
        return nullptr;
    }
    return std::unique_ptr<UploadFile>(new UploadFile(descriptor, static_cast<std::uint64_t>(status.st_size)));
}

UploadFile::~UploadFile()
{
    close(static_cast<int>(handle));
}

std::ptrdiff_t UploadFile::Read(char* buffer, std::size_t count)
{
    ssize_t got = 0;
    do {
        got = read(static_cast<int>(handle), buffer, count);
    } while (got < 0 && errno == EINTR);
    return got;
}

bool UploadFile::Seek(std::uint64_t offset)
{
    return lseek(static_cast<int>(handle), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

} // namespace orvane::host
