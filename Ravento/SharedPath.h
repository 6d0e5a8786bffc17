// A filesystem path that several host threads read and write. Readers share the current value
// instead of copying it: a path copy allocates every component, and the play hook reads it each
// time a replay starts.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>

namespace plugin {

class SharedPath {
public:
    std::shared_ptr<const std::filesystem::path> Share() const
    {
        std::lock_guard lock(mutex);
        return path;
    }

    std::filesystem::path Get() const { return *Share(); }

    void Set(std::filesystem::path newPath)
    {
        auto shared = std::make_shared<const std::filesystem::path>(std::move(newPath));
        std::lock_guard lock(mutex);
        path = std::move(shared);
    }

private:
    mutable std::mutex mutex;
    std::shared_ptr<const std::filesystem::path> path = std::make_shared<const std::filesystem::path>();
};

} // namespace plugin
