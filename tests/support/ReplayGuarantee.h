// The guarantee of the repaired-replay write, checked the one way every test of it checks it:
// the replay stays listed in a replays folder as "{id}.replay" or as "{id}_fixed.replay", a
// repaired file holds the replay or a body the service sent, and the replay's own bytes stay
// where the player can find them (the replays folder or "{id}_copy.replay" in the backup folder).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

struct ReplayGuarantee {
    std::vector<std::filesystem::path> replaysFolders; // where the replay may be listed
    std::filesystem::path backupFolder;
    std::string id;
    std::string original;
    std::vector<std::string_view> sentBodies; // what 200 answers for it carried
};

// What broke, in a sentence for a failure message; empty when the guarantee holds.
std::string BrokenGuarantee(const ReplayGuarantee& replay);

// The temporary files of the write (".ravento-…") left in folder.
std::vector<std::string> TemporaryFilesIn(const std::filesystem::path& folder);

// Whether file holds exactly bytes; the size is compared first, so a large file is read only when
// it may match.
bool Holds(const std::filesystem::path& file, std::string_view bytes);

} // namespace testing_support
