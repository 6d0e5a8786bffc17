#include "support/ReplayGuarantee.h"

#include <algorithm>
#include <fstream>
#include <initializer_list>

#include "ReplayReplacement.h"

namespace testing_support {

bool Holds(const std::filesystem::path& file, std::string_view bytes)
{
    std::error_code error;
    if (std::filesystem::file_size(file, error) != bytes.size() || error)
        return false;
    std::string content(bytes.size(), '\0');
    std::ifstream stream(file, std::ios::binary);
    return stream.read(content.data(), static_cast<std::streamsize>(content.size())) && content == bytes;
}

namespace {

// A name too long for the file system is no file's, as for the plugin's own lookup.
bool Exists(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

} // namespace

std::string BrokenGuarantee(const ReplayGuarantee& replay)
{
    const std::filesystem::path copy = replay.backupFolder / (replay.id + "_copy.replay");
    if (Exists(copy) && !Holds(copy, replay.original) && !(replay.earlierCopy && Holds(copy, *replay.earlierCopy)))
        return copy.string() + " holds something other than the replay";
    bool listed = false;
    bool repaired = false;
    bool kept = Holds(copy, replay.original);
    for (const std::filesystem::path& folder : replay.replaysFolders) {
        const std::filesystem::path old = folder / (replay.id + ".replay");
        const std::filesystem::path fixed = folder / (replay.id + "_fixed.replay");
        if (Exists(old) && !Holds(old, replay.original))
            return old.string() + " holds something other than the replay";
        listed = listed || Exists(old) || Exists(fixed);
        repaired = repaired || Exists(fixed);
        kept = kept || Holds(old, replay.original) || Holds(fixed, replay.original);
        if (!Exists(fixed) || Holds(fixed, replay.original))
            continue;
        const bool sent = std::any_of(replay.sentBodies.begin(), replay.sentBodies.end(),
                                      [&](std::string_view body) { return Holds(fixed, body); });
        if (!sent)
            return fixed.string() + " holds neither the replay nor a body the service sent";
    }
    if (!listed)
        return replay.id + " is listed under neither of its names";
    if (!kept)
        return "the bytes of " + replay.id + " are lost";
    if (replay.hadRepair && !repaired)
        return "the earlier repair of " + replay.id + " is lost";
    return {};
}

std::string MissingAnswer(const ReplayGuarantee& replay, std::string_view answer)
{
    const bool refused = answer == replay.original;
    const std::filesystem::path copy = replay.backupFolder / (replay.id + "_copy.replay");
    for (const std::filesystem::path& folder : replay.replaysFolders) {
        if (Exists(folder / (replay.id + ".replay")))
            return replay.id + ".replay is still listed after the answer";
        if (!Holds(folder / (replay.id + "_fixed.replay"), answer))
            return replay.id + "_fixed.replay does not hold the answer";
    }
    if (!refused && !Holds(copy, replay.original))
        return replay.id + "_copy.replay does not hold the replay after a repair";
    if (refused && Exists(copy))
        return replay.id + "_copy.replay was made after a refusal";
    return {};
}

namespace {

// The names of folder's entries; none when it cannot be listed.
std::vector<std::string> EntryNames(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        names.push_back(entry->path().filename().string());
    return names;
}

bool IsOneOf(const std::string& name, const std::vector<std::string>& ids, std::initializer_list<const char*> suffixes)
{
    return std::any_of(ids.begin(), ids.end(), [&](const std::string& id) {
        return std::any_of(suffixes.begin(), suffixes.end(), [&](const char* suffix) { return name == id + suffix; });
    });
}

} // namespace

std::string StrayFile(const std::filesystem::path& replaysFolder, const std::filesystem::path& backupFolder,
                      const std::vector<std::string>& ids, bool settled)
{
    for (const std::string& name : EntryNames(replaysFolder)) {
        if (IsOneOf(name, ids, {".replay", "_fixed.replay"}))
            continue;
        if (settled)
            return (replaysFolder / name).string() + " is left after the next load";
        if (std::filesystem::path(name).extension() == ".replay")
            return (replaysFolder / name).string() + ": an unfinished file under a name the game lists";
    }
    for (const std::string& name : EntryNames(backupFolder)) {
        if (!IsOneOf(name, ids, {"_copy.replay"}))
            return (backupFolder / name).string() + " does not belong in the backup folder";
    }
    return {};
}

std::vector<std::string> TemporaryFilesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        if (plugin::IsTemporaryName(entry->path().filename()))
            names.push_back(entry->path().filename().string());
    }
    return names;
}

} // namespace testing_support
