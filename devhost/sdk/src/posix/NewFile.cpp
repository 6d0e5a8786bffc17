#include "../NewFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace devhost {
namespace {

std::error_code LastError()
{
    return {errno, std::generic_category()};
}

std::error_code WriteAll(int descriptor, const std::string& content)
{
    std::size_t written = 0;
    while (written < content.size()) {
        ssize_t count = ::write(descriptor, content.data() + written, content.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return count < 0 ? LastError() : std::make_error_code(std::errc::io_error);
        written += static_cast<std::size_t>(count);
    }
    return {};
}

} // namespace

std::error_code WriteNewFile(const std::filesystem::path& file, const std::string& content)
{
    // O_EXCL fails on any existing name, a dangling symbolic link included.
    int descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return LastError();
    std::error_code error = WriteAll(descriptor, content);
    if (::close(descriptor) != 0 && !error)
        error = LastError();
    if (error)
        ::unlink(file.c_str());
    return error;
}

} // namespace devhost
