// The platform-independent part of LoadedModule; Open, Symbol and Close are per platform.
#include "ModuleLoader.h"

#include <utility>

namespace devhost {

LoadedModule::~LoadedModule()
{
    Close();
}

LoadedModule::LoadedModule(LoadedModule&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}

LoadedModule& LoadedModule::operator=(LoadedModule&& other) noexcept
{
    if (this != &other) {
        Close();
        handle = std::exchange(other.handle, nullptr);
    }
    return *this;
}

} // namespace devhost
