#include "DocumentsSandbox.h"

#include <cstdlib>

#if defined(_WIN32)
#include <cwchar>

#include "platform/windows/ShellCalls.h"
#endif

namespace testing_support {

namespace {

std::optional<std::string> Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

#if defined(_WIN32)

std::wstring sandboxDocuments;
bool documentsAvailable = true;
int outstandingBuffers = 0;

// Like the shell: a task-memory buffer on every call, failed or not.
HRESULT WINAPI FakeKnownFolderPath(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path)
{
    const std::size_t bytes = (sandboxDocuments.size() + 1) * sizeof(wchar_t);
    *path = static_cast<PWSTR>(::CoTaskMemAlloc(bytes));
    std::wmemcpy(*path, sandboxDocuments.c_str(), sandboxDocuments.size() + 1);
    ++outstandingBuffers;
    return documentsAvailable ? S_OK : E_FAIL;
}

void WINAPI CountingTaskMemFree(LPVOID buffer)
{
    if (buffer)
        --outstandingBuffers;
    ::CoTaskMemFree(buffer);
}

void UseSandbox(const std::filesystem::path& documents, bool available)
{
    sandboxDocuments = documents.native();
    documentsAvailable = available;
    outstandingBuffers = 0;
    platform::ShellCallsInUse() = {&FakeKnownFolderPath, &CountingTaskMemFree};
}

void RestoreSystem()
{
    platform::ShellCallsInUse() = {&::SHGetKnownFolderPath, &::CoTaskMemFree};
}

#else

void SetEnvironment(const char* name, const std::optional<std::string>& value)
{
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

void UseSandbox(const std::filesystem::path& documents, bool available)
{
    ::unsetenv("XDG_CONFIG_HOME");
    SetEnvironment("HOME", available ? std::optional<std::string>(documents.parent_path().string()) : std::nullopt);
}

#endif

} // namespace

DocumentsSandbox::DocumentsSandbox(Documents documents)
    : savedHome(Environment("HOME")), savedConfigHome(Environment("XDG_CONFIG_HOME"))
{
    UseSandbox(DocumentsFolder(), documents == Documents::Available);
}

DocumentsSandbox::~DocumentsSandbox()
{
#if defined(_WIN32)
    RestoreSystem();
#else
    SetEnvironment("HOME", savedHome);
    SetEnvironment("XDG_CONFIG_HOME", savedConfigHome);
#endif
}

std::filesystem::path DocumentsSandbox::GameFolder() const
{
    return DocumentsFolder() / "My Games" / "Pellacor" / "TAGame";
}

#if defined(_WIN32)
int DocumentsSandbox::OutstandingShellBuffers()
{
    return outstandingBuffers;
}
#endif

} // namespace testing_support
