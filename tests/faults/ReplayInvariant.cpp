// ravento_replay_invariant: the fault-injection run's check of a sandbox after a load, by the one
// check of the replay guarantee the tests use (tests/support/ReplayGuarantee.h).
//
//   ravento_replay_invariant [--settled] [--answered ID]... REPLAYS BACKUPS EXPECTED
//
// EXPECTED holds, for every replay ID of the run, "ID.original" (its bytes), "ID.answer" (what
// "ID_fixed.replay" holds once the service's answer took effect: the repaired bytes, or the
// replay itself after a refusal) and, when the run began with an earlier repair, "ID.earlier".
// --settled: the next load has run, so nothing else may be left in the two folders. --answered:
// nothing can have failed, so the answer for ID must have taken effect.
//
// Prints one line for each broken replay and for a stray file; exits 1 when any, 2 on a misuse.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/ReplayGuarantee.h"

namespace {

std::optional<std::string> Read(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

struct Arguments {
    bool settled = false;
    std::set<std::string> answered;
    std::vector<std::filesystem::path> folders; // replays, backups, expected
};

std::optional<Arguments> Parse(int argc, char** argv)
{
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--settled") == 0)
            arguments.settled = true;
        else if (std::strcmp(argv[i], "--answered") == 0 && i + 1 < argc)
            arguments.answered.insert(argv[++i]);
        else
            arguments.folders.emplace_back(argv[i]);
    }
    if (arguments.folders.size() != 3)
        return std::nullopt;
    return arguments;
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Arguments> arguments = Parse(argc, argv);
    if (!arguments) {
        std::fprintf(stderr, "usage: ravento_replay_invariant [--settled] [--answered ID]... REPLAYS BACKUPS EXPECTED\n");
        return 2;
    }
    const std::filesystem::path& replays = arguments->folders[0];
    const std::filesystem::path& backups = arguments->folders[1];
    const std::filesystem::path& expected = arguments->folders[2];

    std::vector<std::string> ids;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(expected, error), end; !error && entry != end; entry.increment(error)) {
        if (entry->path().extension() == ".original")
            ids.push_back(entry->path().stem().string());
    }
    if (ids.empty()) {
        // A check of nothing would pass every sandbox.
        std::fprintf(stderr, "ravento_replay_invariant: no ID.original in %s\n", expected.c_str());
        return 2;
    }

    std::vector<std::string> broken;
    for (const std::string& id : ids) {
        const std::string original = Read(expected / (id + ".original")).value_or("");
        const std::optional<std::string> answer = Read(expected / (id + ".answer"));
        const std::optional<std::string> earlier = Read(expected / (id + ".earlier"));
        if (!answer) {
            std::fprintf(stderr, "ravento_replay_invariant: no %s.answer in %s\n", id.c_str(), expected.c_str());
            return 2;
        }
        testing_support::ReplayGuarantee replay{{replays}, backups, id, original, {*answer}, earlier.has_value()};
        if (earlier)
            replay.sentBodies.push_back(*earlier);
        std::string text = testing_support::BrokenGuarantee(replay);
        if (text.empty() && arguments->answered.count(id) != 0)
            text = testing_support::MissingAnswer(replay, *answer);
        if (!text.empty())
            broken.push_back(text);
    }
    if (std::string stray = testing_support::StrayFile(replays, backups, ids, arguments->settled); !stray.empty())
        broken.push_back(stray);
    for (const std::string& text : broken)
        std::printf("%s\n", text.c_str());
    return broken.empty() ? 0 : 1;
}
