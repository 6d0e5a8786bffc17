// The uploads this plugin object sent and what became of them, for the settings window: the last
// ten, in a fixed ring under a lock of its own. The game thread records a send, the reply thread
// its outcome, and the UI thread copies the ring only when it changed, so a frame never waits on
// file work or on the replies' lock and allocates nothing while the list stands still.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ReplyResult.h"

namespace plugin {

struct RepairRecord {
    std::uint64_t upload = 0; // 0: an empty slot
    std::string replayId;
    std::chrono::steady_clock::time_point sentAt;
    std::string outcome; // OutcomeWords; empty while the upload waits for its answer
};

// The UI thread's copy: newest first, and the history's version it was taken at.
struct RepairSnapshot {
    std::uint64_t version = 0;
    std::vector<RepairRecord> rows;
};

class RepairHistory {
public:
    using Upload = std::uint64_t;
    // An outcome for no recorded upload (replies handled outside a play) changes nothing.
    static constexpr Upload kUntracked = 0;
    static constexpr std::size_t kCapacity = 10;

    // Records a send; the number it returns names the upload's outcome later.
    Upload Sent(std::string replayId);
    // The reply's outcome, in OutcomeWords. An upload already pushed out of the ring is forgotten.
    void Finish(Upload upload, std::string outcome);
    // Brings snapshot up to date; false (and no copy) when nothing changed since it was taken.
    bool Refresh(RepairSnapshot& snapshot) const;

private:
    RepairRecord& SlotOf(Upload upload) { return ring[(upload - 1) % kCapacity]; }

    mutable std::mutex mutex;
    std::array<RepairRecord, kCapacity> ring;
    Upload lastUpload = 0;
    std::uint64_t version = 0;
};

// Ends the upload's record when it leaves scope: with what the handling set, or as stopped when
// an error ended the handling first.
class RepairOutcome {
public:
    RepairOutcome(RepairHistory& history, RepairHistory::Upload upload, int status, const std::string& replayId)
        : history(history), upload(upload), status(status), replayId(replayId)
    {
    }
    ~RepairOutcome();
    RepairOutcome(const RepairOutcome&) = delete;
    RepairOutcome& operator=(const RepairOutcome&) = delete;

    ReplyResult result{ReplyStep::Stopped, {}, {}};

private:
    RepairHistory& history;
    RepairHistory::Upload upload;
    int status;
    const std::string& replayId;
};

} // namespace plugin
