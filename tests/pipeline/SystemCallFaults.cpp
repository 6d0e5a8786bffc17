#include "pipeline/SystemCallFaults.h"

#include <mutex>
#include <set>
#include <string_view>

namespace system_call_faults {
namespace {

struct Plan {
    std::mutex mutex;
    std::filesystem::path::string_type root;
    bool armed = false;
    bool noReplaceUnsupported = false;
    int failAt = 0;
    Counts counts;
    std::set<std::intptr_t> handles;
};

Plan plan;

bool UnderRootLocked(const NativeChar* path)
{
    return plan.armed && path != nullptr
        && std::basic_string_view<NativeChar>(path).substr(0, plan.root.size()) == plan.root;
}

bool StrikesLocked()
{
    if (++plan.counts.calls != plan.failAt)
        return false;
    ++plan.counts.struck;
    return true;
}

} // namespace

void Arm(const std::filesystem::path& root, int failAt, bool noReplaceUnsupported)
{
    std::lock_guard lock(plan.mutex);
    plan.root = root.native();
    plan.failAt = failAt;
    plan.noReplaceUnsupported = noReplaceUnsupported;
    plan.counts = {};
    plan.handles.clear();
    plan.armed = true;
}

Counts Disarm()
{
    std::lock_guard lock(plan.mutex);
    plan.armed = false;
    return plan.counts;
}

bool UnderRoot(const NativeChar* path)
{
    std::lock_guard lock(plan.mutex);
    return UnderRootLocked(path);
}

bool NoReplaceUnsupported()
{
    std::lock_guard lock(plan.mutex);
    return plan.armed && plan.noReplaceUnsupported;
}

bool StrikesPath(const NativeChar* path)
{
    std::lock_guard lock(plan.mutex);
    return UnderRootLocked(path) && StrikesLocked();
}

bool StrikesHandle(std::intptr_t handle)
{
    std::lock_guard lock(plan.mutex);
    return plan.armed && plan.handles.count(handle) != 0 && StrikesLocked();
}

bool StrikesFlush(std::intptr_t handle)
{
    std::lock_guard lock(plan.mutex);
    if (!plan.armed || plan.handles.count(handle) == 0)
        return false;
    ++plan.counts.flushes;
    return StrikesLocked();
}

void Track(std::intptr_t handle, const NativeChar* path)
{
    std::lock_guard lock(plan.mutex);
    if (UnderRootLocked(path))
        plan.handles.insert(handle);
}

void Untrack(std::intptr_t handle)
{
    std::lock_guard lock(plan.mutex);
    plan.handles.erase(handle);
}

} // namespace system_call_faults
