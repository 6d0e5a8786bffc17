#include "support/ReplayGuarantee.h"

#include <algorithm>
#include <fstream>

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
    bool listed = false;
    bool kept = Holds(replay.backupFolder / (replay.id + "_copy.replay"), replay.original);
    for (const std::filesystem::path& folder : replay.replaysFolders) {
        const std::filesystem::path old = folder / (replay.id + ".replay");
        const std::filesystem::path fixed = folder / (replay.id + "_fixed.replay");
        listed = listed || Exists(old) || Exists(fixed);
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
