// Windows: the Documents folder is the shell's known folder FOLDERID_Documents.
#include "platform/DocumentsFolder.h"

#include "platform/windows/ShellCalls.h"

namespace platform {

ShellCalls& ShellCallsInUse()
{
    static ShellCalls calls{&::SHGetKnownFolderPath, &::CoTaskMemFree};
    return calls;
}

namespace {

// The shell may hand out a buffer even when it fails; it is released exactly once either way.
struct ShellBuffer {
    PWSTR text = nullptr;
    ~ShellBuffer() { ShellCallsInUse().freeTaskMemory(text); }
};

} // namespace

std::error_code DocumentsFolder(std::filesystem::path& folder)
{
    ShellBuffer buffer;
    const HRESULT result = ShellCallsInUse().getKnownFolderPath(FOLDERID_Documents, 0, nullptr, &buffer.text);
    if (result != S_OK)
        return {static_cast<int>(result), std::system_category()};
    folder = std::filesystem::path(std::wstring(buffer.text));
    return {};
}

} // namespace platform
