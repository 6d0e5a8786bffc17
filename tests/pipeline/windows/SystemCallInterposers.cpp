// The program's own CreateFileW, WriteFile, FlushFileBuffers, CloseHandle,
// GetFileInformationByHandle, GetFileAttributesW, FindFirstFileW, CreateDirectoryW, MoveFileExW,
// CopyFileExW and DeleteFileW: the plugin is linked into this program, so its calls go
// through the program's import table, whose entries for kernel32 are pointed here.
#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "pipeline/SystemCallFaults.h"

using namespace system_call_faults;

namespace {

decltype(&::CreateFileW) realCreateFile;
decltype(&::WriteFile) realWriteFile;
decltype(&::FlushFileBuffers) realFlushFileBuffers;
decltype(&::CloseHandle) realCloseHandle;
decltype(&::GetFileInformationByHandle) realGetFileInformationByHandle;
decltype(&::GetFileAttributesW) realGetFileAttributes;
decltype(&::FindFirstFileW) realFindFirstFile;
decltype(&::CreateDirectoryW) realCreateDirectory;
decltype(&::MoveFileExW) realMoveFileEx;
decltype(&::CopyFileExW) realCopyFileEx;
decltype(&::DeleteFileW) realDeleteFile;

// Points the program's import of function from dll at replacement; returns what it pointed at.
void* PatchImport(const char* dll, const char* function, void* replacement)
{
    auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    const auto* headers = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); library->Name;
         ++library) {
        if (_stricmp(reinterpret_cast<const char*>(base + library->Name), dll) != 0)
            continue;
        auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* address = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++address) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal))
                continue;
            const auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            DWORD protection = 0;
            ::VirtualProtect(&address->u1.Function, sizeof(void*), PAGE_READWRITE, &protection);
            void* original = reinterpret_cast<void*>(address->u1.Function);
            address->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            ::VirtualProtect(&address->u1.Function, sizeof(void*), protection, &protection);
            return original;
        }
    }
    throw std::runtime_error(std::string("no import of ") + function + " from " + dll);
}

template <typename Function>
void Patch(const char* function, Function replacement, Function& real)
{
    real = reinterpret_cast<Function>(PatchImport("kernel32.dll", function, reinterpret_cast<void*>(replacement)));
}

std::intptr_t Key(HANDLE handle)
{
    return reinterpret_cast<std::intptr_t>(handle);
}

BOOL Failed(DWORD error)
{
    ::SetLastError(error);
    return FALSE;
}

HANDLE WINAPI CountedCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE pattern)
{
    if (StrikesPath(path)) {
        ::SetLastError(disposition == CREATE_NEW ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = realCreateFile(path, access, share, security, disposition, flags, pattern);
    if (handle != INVALID_HANDLE_VALUE)
        Track(Key(handle), path);
    return handle;
}

BOOL WINAPI CountedWriteFile(HANDLE handle, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    return StrikesHandle(Key(handle)) ? Failed(ERROR_DISK_FULL)
                                      : realWriteFile(handle, bytes, size, written, overlapped);
}

BOOL WINAPI CountedFlushFileBuffers(HANDLE handle)
{
    return StrikesFlush(Key(handle)) ? Failed(ERROR_WRITE_FAULT) : realFlushFileBuffers(handle);
}

// A failed close still closes: the handle is not used again either way.
BOOL WINAPI CountedCloseHandle(HANDLE handle)
{
    const bool strikes = StrikesHandle(Key(handle));
    Untrack(Key(handle));
    const BOOL closed = realCloseHandle(handle);
    return strikes ? Failed(ERROR_WRITE_FAULT) : closed;
}

BOOL WINAPI CountedGetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information)
{
    return StrikesHandle(Key(handle)) ? Failed(ERROR_WRITE_FAULT) : realGetFileInformationByHandle(handle, information);
}

HANDLE WINAPI CountedFindFirstFile(LPCWSTR pattern, LPWIN32_FIND_DATAW entry)
{
    if (StrikesPath(pattern)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return realFindFirstFile(pattern, entry);
}

DWORD WINAPI CountedGetFileAttributes(LPCWSTR path)
{
    if (StrikesPath(path)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_FILE_ATTRIBUTES;
    }
    return realGetFileAttributes(path);
}

BOOL WINAPI CountedCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES security)
{
    return StrikesPath(path) ? Failed(ERROR_DISK_FULL) : realCreateDirectory(path, security);
}

BOOL WINAPI CountedMoveFileEx(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    return StrikesPath(to) ? Failed(ERROR_WRITE_FAULT) : realMoveFileEx(from, to, flags);
}

BOOL WINAPI CountedCopyFileEx(LPCWSTR from, LPCWSTR to, LPPROGRESS_ROUTINE progress, LPVOID data, LPBOOL cancel,
                              DWORD flags)
{
    return StrikesPath(to) ? Failed(ERROR_DISK_FULL) : realCopyFileEx(from, to, progress, data, cancel, flags);
}

BOOL WINAPI CountedDeleteFile(LPCWSTR path)
{
    return StrikesPath(path) ? Failed(ERROR_WRITE_FAULT) : realDeleteFile(path);
}

} // namespace

void system_call_faults::InstallInterposers()
{
    if (realCreateFile)
        return;
    Patch("CreateFileW", &CountedCreateFile, realCreateFile);
    Patch("WriteFile", &CountedWriteFile, realWriteFile);
    Patch("FlushFileBuffers", &CountedFlushFileBuffers, realFlushFileBuffers);
    Patch("CloseHandle", &CountedCloseHandle, realCloseHandle);
    Patch("GetFileInformationByHandle", &CountedGetFileInformationByHandle, realGetFileInformationByHandle);
    Patch("GetFileAttributesW", &CountedGetFileAttributes, realGetFileAttributes);
    Patch("FindFirstFileW", &CountedFindFirstFile, realFindFirstFile);
    Patch("CreateDirectoryW", &CountedCreateDirectory, realCreateDirectory);
    Patch("MoveFileExW", &CountedMoveFileEx, realMoveFileEx);
    Patch("CopyFileExW", &CountedCopyFileEx, realCopyFileEx);
    Patch("DeleteFileW", &CountedDeleteFile, realDeleteFile);
}
