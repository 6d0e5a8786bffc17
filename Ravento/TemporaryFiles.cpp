#include "TemporaryFiles.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "platform/ReplayFiles.h"

namespace plugin {

namespace {

using NativeText = std::filesystem::path::string_type;

// '#' stands for one lower-case hex digit, '*' for the suffix; every other character must be
// there as it is.
constexpr std::string_view kNameForm = ".ravento-################-########.***";
constexpr std::string_view kWritingSuffix = "tmp";
constexpr std::string_view kWholeSuffix = "new";
constexpr std::size_t kHashAt = 9;
constexpr std::size_t kSuffixAt = kNameForm.size() - 3;
constexpr std::size_t kHashDigits = 16;

NativeText Native(std::string_view ascii)
{
    return NativeText(ascii.begin(), ascii.end());
}

bool EndsWith(const NativeText& text, const NativeText& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// FNV-1a over the path's own characters: the same identifier gives the same hash whichever
// way its name was read.
std::uint64_t HashOf(const NativeText& text)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (auto unit : text) {
        hash ^= static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<decltype(unit)>>(unit));
        hash *= 0x100000001b3u;
    }
    return hash;
}

int HexValue(std::filesystem::path::value_type unit)
{
    if (unit >= '0' && unit <= '9')
        return unit - '0';
    if (unit >= 'a' && unit <= 'f')
        return unit - 'a' + 10;
    return -1;
}

std::uint64_t HashInName(const NativeText& name)
{
    std::uint64_t hash = 0;
    for (std::size_t at = kHashAt; at < kHashAt + kHashDigits; ++at)
        hash = (hash << 4) | static_cast<std::uint64_t>(HexValue(name[at]));
    return hash;
}

// Unique within the process by the counter, across processes (mostly) by its random start.
std::uint32_t UniqueNumber()
{
    static std::atomic<std::uint32_t> next{std::random_device{}()};
    return next.fetch_add(1);
}

bool IsMissing(const std::filesystem::path& path)
{
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
    return status.type() == std::filesystem::file_type::not_found;
}

// The names in folder; error tells whether the listing failed.
std::vector<std::filesystem::path> Entries(const std::filesystem::path& folder, std::error_code& error)
{
    std::vector<std::filesystem::path> entries;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        entries.push_back(entry->path().filename());
    return entries;
}

// The identifier with this hash whose old file went to the backup folder and did not come back:
// the crash fell between that move and the rename of the finished temporary file.
std::optional<NativeText> IdentifierOnlyInBackup(const std::filesystem::path& demos,
                                                 const std::filesystem::path& backupFolder, std::uint64_t hash)
{
    const NativeText copySuffix = Native("_copy.replay");
    std::error_code ignored; // without a backup folder no replay can be only there
    for (const std::filesystem::path& name : Entries(backupFolder, ignored)) {
        const NativeText& text = name.native();
        if (!EndsWith(text, copySuffix))
            continue;
        NativeText id = text.substr(0, text.size() - copySuffix.size());
        if (HashOf(id) == hash && IsMissing(demos / (id + Native(".replay"))))
            return id;
    }
    return std::nullopt;
}

} // namespace

TemporaryNames TemporaryNamesFor(const std::filesystem::path& replayId)
{
    const std::string stem = fmt::format(".ravento-{:016x}-{:08x}.", HashOf(replayId.native()), UniqueNumber());
    return {Native(stem + std::string(kWritingSuffix)), Native(stem + std::string(kWholeSuffix))};
}

bool IsTemporaryName(const std::filesystem::path& name)
{
    const NativeText& text = name.native();
    if (text.size() != kNameForm.size())
        return false;
    for (std::size_t at = 0; at < kSuffixAt; ++at) {
        bool fits = kNameForm[at] == '#' ? HexValue(text[at]) >= 0 : text[at] == kNameForm[at];
        if (!fits)
            return false;
    }
    const NativeText suffix = text.substr(kSuffixAt);
    return suffix == Native(kWritingSuffix) || suffix == Native(kWholeSuffix);
}

bool SettleStaleTemporaryFiles(const std::filesystem::path& demos, const std::filesystem::path& backupFolder)
{
    std::error_code listingError;
    std::vector<std::filesystem::path> stale;
    for (std::filesystem::path& name : Entries(demos, listingError)) {
        if (IsTemporaryName(name))
            stale.push_back(std::move(name));
    }
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    for (const std::filesystem::path& name : stale) {
        const bool whole = name.native().substr(kSuffixAt) == Native(kWholeSuffix);
        std::optional<NativeText> id;
        if (whole)
            id = IdentifierOnlyInBackup(demos, backupFolder, HashInName(name.native()));
        if (id)
            files.RenameReplacing(demos / name, demos / (*id + Native("_fixed.replay")));
        else
            files.RemoveFile(demos / name);
    }
    return !listingError;
}

} // namespace plugin
