// Windows: exact-name lookup with FindFirstFileW, moves with MoveFileExW. GetLastError values
// are already the numbers the log shows (LastSystemError puts them in FileErrorCategory()).
#include "platform/ReplayFiles.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "platform/SystemError.h"

// ntdll's record of the NTSTATUS behind the thread's last error (no SDK header declares it).
extern "C" __declspec(dllimport) LONG WINAPI RtlGetLastNtStatus();

namespace platform {
namespace {

constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056);
// How long a move keeps trying while another process holds a file, and its first pause.
constexpr DWORD kLockRetryBudgetMs = 1500;
constexpr DWORD kFirstLockRetryPauseMs = 10;
constexpr DWORD kLongestLockRetryPauseMs = 250;

std::error_code WindowsCode(DWORD code)
{
    return ReplayFileError(static_cast<int>(code));
}

HANDLE AsHandle(FileHandle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// The folder must be one a listing could open: present, a directory, and readable.
std::error_code CheckListableFolder(const std::filesystem::path& folder)
{
    if (folder.empty())
        return WindowsCode(ERROR_PATH_NOT_FOUND);
    HANDLE handle =
        ::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastSystemError();
    BY_HANDLE_FILE_INFORMATION information;
    std::error_code error;
    if (!::GetFileInformationByHandle(handle, &information))
        error = LastSystemError();
    else if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        error = WindowsCode(ERROR_DIRECTORY);
    ::CloseHandle(handle);
    return error;
}

// What a reparse point leads to, opened without reading it (no access rights asked for): a
// file on disk that is not a directory counts. A link that leads nowhere does not.
bool LeadsToFile(const std::filesystem::path& path)
{
    HANDLE handle = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    bool file = ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &information)
        && !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    ::CloseHandle(handle);
    return file;
}

// Directories and devices are never replay files; a reparse point counts by what it leads to.
bool IsFileEntry(const std::filesystem::path& path, DWORD attributes)
{
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
        return false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return LeadsToFile(path);
    return true;
}

// Held open by another process without delete sharing (the game playing the replay, a virus
// scanner), a file cannot be moved: a sharing or lock violation, or access denied while its
// delete is pending. Such holds pass within moments.
bool HeldByAnotherProcess(DWORD error)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return true;
    return error == ERROR_ACCESS_DENIED && RtlGetLastNtStatus() == kStatusDeletePending;
}

// A move that fails only because a file is held is tried again, with a doubling pause, for
// about 1.5 s in all; the last error stands after that. The moves run on the reply thread,
// never the game's, so the wait stalls no frame.
// A file being replaced that another process holds open refuses with ERROR_ACCESS_DENIED, even
// when its holder shares deletion; that hold passes within moments too.
std::error_code Move(const std::filesystem::path& from, const std::filesystem::path& to, DWORD flags)
{
    const ULONGLONG start = ::GetTickCount64();
    DWORD pause = kFirstLockRetryPauseMs;
    while (!::MoveFileExW(from.c_str(), to.c_str(), flags)) {
        const DWORD error = ::GetLastError();
        const bool held = HeldByAnotherProcess(error)
            || ((flags & MOVEFILE_REPLACE_EXISTING) && error == ERROR_ACCESS_DENIED);
        if (!held || ::GetTickCount64() - start + pause > kLockRetryBudgetMs)
            return WindowsCode(error);
        ::Sleep(pause);
        pause = std::min(pause * 2, kLongestLockRetryPauseMs);
    }
    return {};
}

} // namespace

bool IsSingleEntryName(const std::filesystem::path& name)
{
    const std::wstring& text = name.native();
    if (text.empty() || text == L"." || text == L"..")
        return false;
    for (wchar_t character : text) {
        if (character < 32 || std::wcschr(L"<>:\"/\\|?*", character) != nullptr)
            return false;
    }
    return true;
}

std::error_code ReplayFileSystem::ListFolder(const std::filesystem::path& folder,
                                             std::vector<std::filesystem::path>& names)
{
    names.clear();
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((folder / L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return LastSystemError();
    do {
        const std::wstring_view name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.emplace_back(name);
    } while (::FindNextFileW(search, &entry));
    std::error_code error = LastSystemError();
    ::FindClose(search);
    return error == ReplayFileError(ERROR_NO_MORE_FILES) ? std::error_code() : error;
}

std::error_code ReplayFileSystem::FindExactEntry(const std::filesystem::path& folder, const std::filesystem::path& name,
                                                 bool& found)
{
    found = false;
    if (std::error_code error = CheckListableFolder(folder))
        return error;
    if (!IsSingleEntryName(name))
        return {};

    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((folder / name).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        // A name too long for the file system is, like a missing one, no entry's name.
        std::error_code error = LastSystemError();
        bool noSuchName = Is(error, FileError::FileNotFound) || Is(error, FileError::NameTooLong);
        return noSuchName ? std::error_code() : error;
    }
    ::FindClose(search);
    // The lookup ignores case (and may match a short 8.3 name); the stored name must be exact.
    found = name.native() == entry.cFileName && IsFileEntry(folder / name, entry.dwFileAttributes);
    return {};
}

ReplayFileSystem::~ReplayFileSystem() = default;

std::error_code ReplayFileSystem::MoveWithoutReplace(const std::filesystem::path& from, const std::filesystem::path& to)
{
    // No MOVEFILE_COPY_ALLOWED: a copy that a crash cuts short would stay behind under the
    // target's name; the caller copies to a temporary name instead (ERROR_NOT_SAME_DEVICE).
    return Move(from, to, 0);
}

std::error_code ReplayFileSystem::CopyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (!::CopyFileExW(from.c_str(), to.c_str(), nullptr, nullptr, nullptr, COPY_FILE_FAIL_IF_EXISTS))
        return LastSystemError();
    // CopyFileExW leaves the bytes in the cache; the copy must be on disk before it is named. A
    // read-only source gives a read-only copy, which could be neither flushed nor removed.
    ::SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE copy = ::CreateFileW(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::error_code error;
    if (copy == INVALID_HANDLE_VALUE) {
        error = LastSystemError();
    } else {
        if (!::FlushFileBuffers(copy))
            error = LastSystemError();
        ::CloseHandle(copy);
    }
    if (error)
        ::DeleteFileW(to.c_str());
    return error;
}

std::error_code ReplayFileSystem::CreateFolder(const std::filesystem::path& folder)
{
    if (!::CreateDirectoryW(folder.c_str(), nullptr))
        return LastSystemError();
    return {};
}

std::error_code ReplayFileSystem::CreateNewFile(const std::filesystem::path& file, FileHandle& handle)
{
    HANDLE created = ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE)
        return LastSystemError();
    handle = reinterpret_cast<FileHandle>(created);
    return {};
}

std::error_code ReplayFileSystem::Write(FileHandle handle, std::string_view bytes)
{
    while (!bytes.empty()) {
        DWORD chunk = static_cast<DWORD>(bytes.size() < (1u << 30) ? bytes.size() : (1u << 30));
        DWORD written = 0;
        if (!::WriteFile(AsHandle(handle), bytes.data(), chunk, &written, nullptr))
            return LastSystemError();
        bytes.remove_prefix(written);
    }
    return {};
}

std::error_code ReplayFileSystem::Close(FileHandle handle)
{
    std::error_code error;
    if (!::FlushFileBuffers(AsHandle(handle)))
        error = LastSystemError();
    if (!::CloseHandle(AsHandle(handle)) && !error)
        error = LastSystemError();
    return error;
}

std::error_code ReplayFileSystem::RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to)
{
    return Move(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

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

std::error_code ReplayFileSystem::RemoveFile(const std::filesystem::path& file)
{
    if (!::DeleteFileW(file.c_str()))
        return LastSystemError();
    return {};
}

namespace {

// The one byte every holder locks, far past any replay's end: a lock there keeps no one from
// reading or writing the file's bytes, as a byte-range lock on Windows would.
OVERLAPPED HeldByte()
{
    OVERLAPPED overlapped{};
    overlapped.Offset = 0xFFFFFFFFu;
    overlapped.OffsetHigh = 0x7FFFFFFFu;
    return overlapped;
}

// The same file id on the same volume. Wine reports a volume serial of 0 for a handle whose file
// was renamed by path since it was opened, so an unknown serial does not tell volumes apart.
bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    const bool sameVolume = a.dwVolumeSerialNumber == b.dwVolumeSerialNumber || a.dwVolumeSerialNumber == 0
        || b.dwVolumeSerialNumber == 0;
    return sameVolume && a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

} // namespace

std::error_code ReplayFileSystem::Hold(const std::filesystem::path& file, bool create, FileHandle& held)
{
    // Sharing delete too, so the holder itself can still rename or remove the file it holds.
    HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastSystemError();
    std::error_code error;
    BY_HANDLE_FILE_INFORMATION information;
    OVERLAPPED byte = HeldByte();
    if (!::GetFileInformationByHandle(handle, &information))
        error = LastSystemError();
    else if (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        error = WindowsCode(ERROR_CANT_ACCESS_FILE);
    else if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &byte))
        error = LastSystemError(); // ERROR_LOCK_VIOLATION while another holds it
    if (error) {
        ::CloseHandle(handle);
        return error;
    }
    held = reinterpret_cast<FileHandle>(handle);
    return {};
}

bool ReplayFileSystem::IsHeldFile(FileHandle held, const std::filesystem::path& file)
{
    BY_HANDLE_FILE_INFORMATION heldInformation, named;
    if (!::GetFileInformationByHandle(AsHandle(held), &heldInformation))
        return false;
    HANDLE handle = ::CreateFileW(file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool same = ::GetFileInformationByHandle(handle, &named) && SameFile(heldInformation, named);
    ::CloseHandle(handle);
    return same;
}

// Windows refuses what this account may not remove when it is removed; nothing to tell apart here.
bool ReplayFileSystem::IsOwnFile(FileHandle)
{
    return true;
}

void ReplayFileSystem::Release(FileHandle held)
{
    // Closing the handle releases its lock.
    ::CloseHandle(AsHandle(held));
}

// A file whose removal is pending refuses every open with ERROR_ACCESS_DENIED, its attributes
// too, until its last handle closes; a folder or a read-only file shows its attributes.
bool IsHeldElsewhere(const std::error_code& holdError, const std::filesystem::path& file)
{
    if (Is(holdError, FileError::LockViolation))
        return true;
    return Is(holdError, FileError::AccessDenied) && ::GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES
        && ::GetLastError() == ERROR_ACCESS_DENIED;
}

} // namespace platform
