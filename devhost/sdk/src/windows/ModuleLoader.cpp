// Windows module loading: LoadLibraryW, GetProcAddress, FreeLibrary. GetLastError is turned into
// a std::error_code here and nowhere else.
#include "../ModuleLoader.h"

#include <windows.h>

#include <utility>

namespace devhost {
namespace {

std::error_code LoaderError()
{
    return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

} // namespace

std::error_code LoadedModule::Open(const std::filesystem::path& path, LoadedModule& module, std::string& loaderMessage)
{
    module.Close();
    // No error dialog box for a module that is missing or broken: the caller reports it.
    UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE loaded = LoadLibraryW(std::filesystem::absolute(path).c_str());
    std::error_code error = loaded ? std::error_code() : LoaderError();
    SetErrorMode(previousMode);
    if (error) {
        loaderMessage = error.message();
        if (error.value() == ERROR_MOD_NOT_FOUND && !std::filesystem::exists(path))
            return std::make_error_code(std::errc::no_such_file_or_directory);
        return error;
    }
    module.handle = loaded;
    return {};
}

void* LoadedModule::Symbol(const char* name) const
{
    if (!handle)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void LoadedModule::Close()
{
    if (handle)
        FreeLibrary(static_cast<HMODULE>(std::exchange(handle, nullptr)));
}

} // namespace devhost
