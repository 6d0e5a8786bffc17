#include "BenchFolders.h"

#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <random>
#include <stdexcept>

#include <fmt/format.h>

namespace {

class RunFolder {
public:
    RunFolder()
        : root(std::filesystem::temp_directory_path() / fmt::format("ravento-bench-{:08x}", std::random_device{}()))
    {
        std::filesystem::create_directories(root);
    }
    ~RunFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    const std::filesystem::path root;
};

const std::filesystem::path& RunRoot()
{
    static const RunFolder folder;
    return folder.root;
}

// Identifiers look like the game's: 16 hexadecimal digits, spread over the name space.
std::string ReplayId(int replay)
{
    return fmt::format("{:016X}", static_cast<std::uint64_t>(replay) * 0x9E3779B97F4A7C15ull);
}

void CreateEmptyFile(const std::filesystem::path& file)
{
    int descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (descriptor < 0)
        throw std::runtime_error("cannot create " + file.string());
    ::close(descriptor);
}

} // namespace

std::filesystem::path BenchFolder(const std::string& name)
{
    std::filesystem::path folder = RunRoot() / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

const std::filesystem::path& ReplaysFolderOf(int count)
{
    static std::map<int, std::filesystem::path> folders;
    auto [found, made] = folders.try_emplace(count);
    if (made) {
        found->second = BenchFolder(fmt::format("replays-{}", count));
        for (int replay = 0; replay < count; ++replay)
            CreateEmptyFile(found->second / (ReplayId(replay) + ".replay"));
    }
    return found->second;
}

std::string PresentReplayId()
{
    return ReplayId(7); // every folder holds at least 100 entries
}

std::string AbsentReplayId()
{
    return "NOT-IN-ANY-FOLDER";
}
