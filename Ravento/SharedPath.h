// A filesystem path that several host threads read and write: every access hands out a copy.
#pragma once

#include <filesystem>
#include <mutex>

namespace plugin {

class SharedPath {
public:
    std::filesystem::path Get() const
    {
        std::lock_guard lock(mutex);
        return path;
    }

    void Set(std::filesystem::path newPath)
    {
        std::lock_guard lock(mutex);
        path = std::move(newPath);
    }

private:
    mutable std::mutex mutex;
    std::filesystem::path path;
};

} // namespace plugin
