// The uploads of this session and their outcomes, for the settings window.
#include "RepairHistory.h"

#include <algorithm>

namespace plugin {

RepairHistory::Upload RepairHistory::Sent(std::string replayId)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex);
    RepairRecord& record = SlotOf(++lastUpload);
    record.upload = lastUpload;
    record.replayId.swap(replayId); // the old text is freed after the lock, with replayId
    record.sentAt = now;
    record.outcome.clear();
    ++version;
    return lastUpload;
}

void RepairHistory::Finish(Upload upload, std::string outcome)
{
    std::lock_guard lock(mutex);
    if (upload == kUntracked)
        return;
    RepairRecord& record = SlotOf(upload);
    if (record.upload != upload)
        return;
    record.outcome.swap(outcome); // the old text is freed after the lock, with outcome
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
        history.Finish(upload, OutcomeWords(replayId, status, result));
    } catch (...) {
        // No memory for the record: the row keeps saying "sending"; the console has the reply's lines.
    }
}

} // namespace plugin
