// A scratch file that has no name: it is unlinked as soon as it is made, so nothing is left on
// disk whichever way a request ends, even when the service is killed.
#pragma once

#include <cstddef>
#include <filesystem>
#include <system_error>

namespace repairservice {

class TemporaryFile {
public:
    // Makes the file in folder (the system's temporary folder when empty). Throws
    // std::system_error when it cannot.
    explicit TemporaryFile(const std::filesystem::path& folder);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // The open descriptor (read and write, close-on-exec), e.g. for a child's standard input.
    int Descriptor() const { return fd; }

    // Appends size bytes; false when the disk refuses them.
    bool Append(const char* data, std::size_t size);
    // Copies up to size bytes from offset into buffer; the count read, or -1 on an error.
    long ReadAt(std::size_t offset, char* buffer, std::size_t size) const;
    // Moves the file position back to the start, where a child given the descriptor reads from.
    bool Rewind();
    // The current length of the file.
    std::size_t Size() const;

private:
    int fd = -1;
};

} // namespace repairservice
