// POSIX module loading: dlopen, dlsym, dlclose. dlopen reports its failures as text only.
#include "../ModuleLoader.h"

#include <dlfcn.h>

#include <utility>

namespace devhost {

std::error_code LoadedModule::Open(const std::filesystem::path& path, LoadedModule& module, std::string& loaderMessage)
{
    module.Close();
    std::error_code existsError;
    if (!std::filesystem::exists(path, existsError))
        return existsError ? existsError : std::make_error_code(std::errc::no_such_file_or_directory);
    // A path without a slash would make dlopen search the library path instead of this file.
    std::filesystem::path file = path.has_parent_path() ? path : std::filesystem::path(".") / path;
    // RTLD_LOCAL: each plugin keeps its own symbols, as it does on the real host.
    module.handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module.handle)
        return {};
    const char* message = dlerror();
    loaderMessage = message ? message : "";
    return std::make_error_code(std::errc::executable_format_error);
}

void* LoadedModule::Symbol(const char* name) const
{
    return handle ? dlsym(handle, name) : nullptr;
}

void LoadedModule::Close()
{
    if (handle)
        dlclose(std::exchange(handle, nullptr));
}

} // namespace devhost
