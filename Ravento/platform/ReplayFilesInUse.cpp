// Which ReplayFileSystem is in use: the platform's own, or one a test installed.
#include "platform/ReplayFiles.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<ReplayFileSystem*> installed{nullptr};

} // namespace

ReplayFileSystem& ReplayFiles()
{
    static ReplayFileSystem platformOwn;
    ReplayFileSystem* replacement = installed.load();
    return replacement ? *replacement : platformOwn;
}

void InstallReplayFileSystem(ReplayFileSystem* replacement)
{
    installed.store(replacement);
}

} // namespace platform
