// The uploads of this session and their outcomes, for the settings window.
#include "RepairHistory.h"

#include <algorithm>

#include <fmt/format.h>

namespace plugin {

namespace {

// What a reply that did what its status asks leaves for the player.
RepairState StateOf(int status)
{
    switch (status) {
    case 200:
        return RepairState::Repaired;
    case 400:
        return RepairState::NotRepairable;
    case 429:
        return RepairState::RateLimited;
    default:
        return RepairState::Failed;
    }
}

} // namespace

RepairHistory::Upload RepairHistory::Sent(std::string replayId)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex);
    RepairRecord& record = SlotOf(++lastUpload);
    record.upload = lastUpload;
    record.replayId.swap(replayId); // the old text is freed after the lock, with replayId
    record.sentAt = now;
    record.state = RepairState::Sending;
    record.failure.clear();
    ++version;
    return lastUpload;
}

void RepairHistory::Finish(Upload upload, int status, std::string failure)
{
    RepairState state = failure.empty() ? StateOf(status) : RepairState::Failed;
    // Any other status is a failure in itself: the service answered it, or nothing answered (0).
    if (state == RepairState::Failed && failure.empty())
        failure = fmt::format("status {}", status);
    std::lock_guard lock(mutex);
    if (upload == kUntracked)
        return;
    RepairRecord& record = SlotOf(upload);
    if (record.upload != upload)
        return;
    record.state = state;
    record.failure.swap(failure);
    ++version;
}

bool RepairHistory::Refresh(RepairSnapshot& snapshot) const
{
    std::lock_guard lock(mutex);
    if (snapshot.version == version)
        return false;
    const std::size_t count = static_cast<std::size_t>(std::min<Upload>(lastUpload, kCapacity));
    snapshot.rows.resize(count); // earlier rows keep their strings' room
    for (std::size_t newer = 0; newer < count; ++newer)
        snapshot.rows[newer] = ring[(lastUpload - 1 - newer) % kCapacity];
    snapshot.version = version;
    return true;
}

RepairOutcome::~RepairOutcome()
{
    try {
        history.Finish(upload, status, std::move(failure));
    } catch (...) {
        // No memory for the record: the row keeps saying "sending"; the console has the reply's lines.
    }
}

} // namespace plugin
