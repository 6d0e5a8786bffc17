// The two shell calls behind DocumentsFolder, reached through one replaceable table so that a
// test can stand in for them (and count how often the buffer is released). Windows only.
#pragma once

#include <windows.h>

#include <shlobj.h>

namespace platform {

struct ShellCalls {
    HRESULT(WINAPI* getKnownFolderPath)(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR* path);
    void(WINAPI* freeTaskMemory)(LPVOID buffer);
};

// The table in use; the real shell functions unless a test replaced them.
ShellCalls& ShellCallsInUse();

} // namespace platform
