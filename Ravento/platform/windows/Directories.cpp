// Windows: directory status with the file attributes (links followed through a handle).
#include "platform/ReplayFiles.h"

#include <windows.h>

#include "platform/SystemError.h"

namespace platform {

namespace {

bool IsNotFound(const std::error_code& error)
{
    switch (error.value()) {
    case ERROR_FILE_NOT_FOUND: // 2
    case ERROR_PATH_NOT_FOUND: // 3
    case ERROR_BAD_NETPATH: // 53
    case ERROR_NETNAME_DELETED: // 64
    case ERROR_INVALID_NAME: // 123
    case ERROR_DIRECTORY: // 267
        return true;
    default:
        return false;
    }
}

// The attributes of what a link points to: the link's own attributes describe only the link.
std::error_code LinkTargetAttributes(const std::filesystem::path& path, DWORD& attributes)
{
    const HANDLE handle = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastSystemError();
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = ::GetFileInformationByHandle(handle, &info);
    const std::error_code error = ok ? std::error_code() : LastSystemError();
    ::CloseHandle(handle);
    attributes = info.dwFileAttributes;
    return error;
}

} // namespace

std::error_code ReplayFileSystem::QueryEntryKind(const std::filesystem::path& path, EntryKind& kind)
{
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    std::error_code error = attributes == INVALID_FILE_ATTRIBUTES ? LastSystemError() : std::error_code();
    if (!error && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        error = LinkTargetAttributes(path, attributes);
    if (error) {
        if (!IsNotFound(error))
            return error;
        kind = EntryKind::Missing;
        return {};
    }
    kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Directory : EntryKind::Other;
    return {};
}

} // namespace platform
