// A scratch file that has no name, so nothing is left on disk whichever way a request ends, even
// when the service is killed. Its first bytes are held in memory (a memfd, which a child can still
// read as its standard input); past memoryBytes they move to an unlinked file in the folder.
// Creating and deleting a disk file for every small upload cost more than the rest of the
// request, and more the more clients sent at once: they queue on the folder's lock, and the
// file system's search for a free inode slows as deleted ones pile up.
#pragma once

#include <cstddef>
#include <filesystem>
#include <system_error>

namespace repairservice {

class TemporaryFile {
public:
    // The file for folder (the system's temporary folder when empty); memoryBytes 0 puts it on
    // disk from the start. Throws std::system_error when it cannot be made.
    TemporaryFile(const std::filesystem::path& folder, std::size_t memoryBytes);
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
    bool MoveToDisk();

    std::filesystem::path folder;
    std::size_t memoryBytes;
    bool inMemory = false;
    int fd = -1;
};

} // namespace repairservice
