// Loading a plugin module: the one platform seam of the host core. posix/ModuleLoader.cpp uses
// dlopen, windows/ModuleLoader.cpp LoadLibraryW; callers see neither.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace devhost {

class LoadedModule {
public:
    LoadedModule() = default;
    ~LoadedModule(); // unloads the module
    LoadedModule(LoadedModule&& other) noexcept;
    LoadedModule& operator=(LoadedModule&& other) noexcept;
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    // Loads the module at path. On failure returns the error (no_such_file_or_directory when the
    // file is missing) and puts the platform loader's own explanation in loaderMessage.
    static std::error_code Open(const std::filesystem::path& path, LoadedModule& module, std::string& loaderMessage);

    // The address of an exported symbol, or null when the module does not export it.
    void* Symbol(const char* name) const;
    void Close();

private:
    void* handle = nullptr;
};

} // namespace devhost
