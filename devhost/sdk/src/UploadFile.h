// A file that a form part uploads, opened so that nothing about the name can stall the opener.
// A name the plugin found as a regular file may since have become a FIFO (whose open waits for
// a writer for ever) or a directory; the open never blocks, the type is checked on the opened
// handle itself, and the upload then reads from that very handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace devhost {

// What ends a folder's name in a form's path.
#ifdef _WIN32
inline constexpr const char* kPathSeparators = "/\\";
#else
inline constexpr const char* kPathSeparators = "/";
#endif

class UploadFile {
public:
    // path in the form's narrow encoding: UTF-8 on POSIX, the ANSI code page on Windows.
    // Returns null and sets error when the file cannot be opened or is no regular file.
    static std::unique_ptr<UploadFile> Open(const std::string& path, std::string& error);
    ~UploadFile();
    UploadFile(const UploadFile&) = delete;
    UploadFile& operator=(const UploadFile&) = delete;

    std::uint64_t Size() const { return size; }
    // Reads up to count bytes from the current position: the count read, 0 at the end, -1 on error.
    std::ptrdiff_t Read(char* buffer, std::size_t count);
    bool Seek(std::uint64_t offset);

private:
    UploadFile(std::intptr_t handle, std::uint64_t size) : handle(handle), size(size) {}

    const std::intptr_t handle; // a file descriptor or a Windows HANDLE
    const std::uint64_t size;
};

} // namespace devhost
