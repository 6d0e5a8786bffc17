#include "ReplayTree.h"

#include <fstream>
#include <iterator>

void ReplayTree::Reset(bool withBackupFolder)
{
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(Root()))
        std::filesystem::remove_all(entry.path());
    std::filesystem::create_directories(Demos());
    if (withBackupFolder)
        std::filesystem::create_directories(Backups());
}

ReplayTree::Snapshot ReplayTree::Take() const
{
    Snapshot snapshot;
    for (const std::filesystem::directory_entry& entry : std::filesystem::recursive_directory_iterator(Root())) {
        std::string relative = entry.path().lexically_relative(Root()).string();
        snapshot[relative] = entry.is_directory() ? "<folder>" : ReadFile(entry.path()).value_or("<not a file>");
    }
    return snapshot;
}

bool WriteFile(const std::filesystem::path& file, std::string_view bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::optional<std::string> ReadFile(const std::filesystem::path& file)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FitsOneEntry(std::string_view name)
{
    constexpr std::size_t kLongestName = 255; // bytes, on the file systems Linux uses
    return !name.empty() && name != "." && name != ".." && name.size() <= kLongestName
        && name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}
