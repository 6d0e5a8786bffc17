// The guarantee of the repaired-replay write, checked the one way every test of it checks it,
// and the fault-injection run too (ravento_replay_invariant): the replay stays listed in a
// replays folder as "{id}.replay" or as "{id}_fixed.replay"; "{id}.replay" and "{id}_copy.replay"
// hold nothing but the replay; a repaired file holds the replay or a body the service sent; an
// earlier repair is never lost; and the replay's own bytes stay where the player can find them
// (the replays folder or "{id}_copy.replay" in the backup folder).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

struct ReplayGuarantee {
    std::vector<std::filesystem::path> replaysFolders; // where the replay may be listed
    std::filesystem::path backupFolder;
    std::string id;
    std::string original;
    std::vector<std::string_view> sentBodies; // what 200 answers for it carried, or an earlier repair
    bool hadRepair = false; // a "{id}_fixed.replay" was there before: it may be replaced, never lost
    // What a "{id}_copy.replay" that was there before held: it keeps that, or holds the replay.
    std::optional<std::string_view> earlierCopy = std::nullopt;
};

// What broke, in a sentence for a failure message; empty when the guarantee holds.
std::string BrokenGuarantee(const ReplayGuarantee& replay);

// What an answer that took effect left undone, for a run in which nothing can have failed:
// "{id}.replay" is gone and "{id}_fixed.replay" holds answer; after a repair (answer is not the
// replay) "{id}_copy.replay" holds the replay, after a refusal there is no copy. Empty when done.
std::string MissingAnswer(const ReplayGuarantee& replay, std::string_view answer);

// A file in the replays folder or the backup folder that belongs to none of the replays ids (their
// "{id}.replay", "{id}_fixed.replay", "{id}_copy.replay"): before settled (the next load has
// settled what a fault left), one under a name the game lists (".replay"); after, any. Empty
// when there is none.
std::string StrayFile(const std::filesystem::path& replaysFolder, const std::filesystem::path& backupFolder,
                      const std::vector<std::string>& ids, bool settled);

// The temporary files of the write (".ravento-…") left in folder.
std::vector<std::string> TemporaryFilesIn(const std::filesystem::path& folder);

// Whether file holds exactly bytes; the size is compared first, so a large file is read only when
// it may match.
bool Holds(const std::filesystem::path& file, std::string_view bytes);

} // namespace testing_support
