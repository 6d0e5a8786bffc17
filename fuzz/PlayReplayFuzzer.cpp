// The play handler of the real plugin, fired through the host's game event with identifier and
// date texts from the input (invalid UTF-8, separators, "..", ":", NUL, very long values), over a
// replays folder that holds the replay as a file, a folder, a named pipe or not at all, and files
// named like it outside the folder. Every upload request names exactly "<id>.replay", a regular
// file directly inside the replays folder; a replay already repaired is never sent; a replay of
// the repair window whose file is there is sent once; and no error reaches a callback boundary.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "FuzzedPlugin.h"
#include "orvane/host/HttpTransport.h"
#include "platform/CodePage.h"

namespace {

constexpr char kInWindowDate[] = "2025-06-01 12:00";

// Keeps the requests of one input and fails each at once, as an unreachable service would.
class RequestLog : public devhost::HttpTransport {
public:
    void Send(CurlRequest request, Completion done) override
    {
        {
            std::lock_guard lock(mutex);
            requests.push_back(std::move(request));
        }
        done(0, {}, "not sent: fuzzing");
    }
    std::vector<CurlRequest> Take()
    {
        std::lock_guard lock(mutex);
        return std::exchange(requests, {});
    }

private:
    std::mutex mutex;
    std::vector<CurlRequest> requests;
};

// Files that a lookup joining paths instead of matching one entry would find for identifiers
// such as "../trap", "../../trap" or "sub/trap".
void AddTraps(const ReplayTree& tree)
{
    WriteFile(tree.Root() / "trap.replay", "outside");
    WriteFile(tree.Root() / "TAGame" / "trap.replay", "outside");
    std::filesystem::create_directories(tree.Demos() / "sub");
    WriteFile(tree.Demos() / "sub" / "trap.replay", "below");
}

struct Fixture {
    Fixture() : plugin(Transport())
    {
        plugin.tree.Reset(true);
        AddTraps(plugin.tree);
    }

    std::unique_ptr<devhost::HttpTransport> Transport()
    {
        auto transport = std::make_unique<RequestLog>();
        requests = transport.get();
        return transport;
    }

    RequestLog* requests = nullptr;
    FuzzedPlugin plugin;
};

Fixture& TheFixture()
{
    static Fixture fixture;
    return fixture;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    Fixture& fixture = TheFixture();
    ReplayTree& tree = fixture.plugin.tree;

    enum class Entry { File, Folder, Pipe, None };
    const Entry entry = input.PickValueInArray({Entry::File, Entry::File, Entry::Folder, Entry::Pipe, Entry::None});
    const bool knownDate = input.ConsumeBool();
    const std::string date = knownDate ? kInWindowDate : input.ConsumeRandomLengthString(64);
    const std::string id = input.ConsumeRemainingBytesAsString();
    const std::string name = id + ".replay";

    const bool placed = FitsOneEntry(name) && entry != Entry::None;
    if (placed && entry == Entry::File)
        WriteFile(tree.Demos() / name, "replay");
    if (placed && entry == Entry::Folder)
        std::filesystem::create_directory(tree.Demos() / name);
    if (placed && entry == Entry::Pipe) // opening it to read would wait for a writer for ever
        ::mkfifo((tree.Demos() / name).c_str(), 0600);

    fixture.plugin.Host().PlayReplay(id, date);
    FUZZ_CHECK(fixture.plugin.Host().Settle(std::chrono::seconds(10)), "the request was not settled");
    const std::vector<CurlRequest> requests = fixture.requests->Take();
    const std::string story = fmt::format("id {:?}, date {:?}, entry {}", id, date, static_cast<int>(entry));

    for (const std::string& line : fixture.plugin.TakeHostLines())
        FUZZ_CHECK(line.find(" threw") == std::string::npos,
                   fmt::format("the host caught an exception: {}\n{}", line, story));
    for (const std::string& line : fixture.plugin.TakePluginLines())
        FUZZ_CHECK(line.find("OnPlayReplay failed") == std::string::npos,
                   fmt::format("the plugin's boundary caught an error: {}\n{}", line, story));

    for (const CurlRequest& request : requests) {
        FUZZ_CHECK(request.formFields.size() == 1, "a request without exactly one form part\n" + story);
        std::filesystem::path sent;
        FUZZ_CHECK(!platform::PathFromCodePageText(request.formFields[0].data, sent),
                   "a request names a path the code page cannot hold\n" + story);
        FUZZ_CHECK(sent.parent_path() == tree.Demos() && sent.filename() == std::filesystem::path(name),
                   fmt::format("a request names another entry than the replay's: {:?}\n{}", request.formFields[0].data,
                               story));
        FUZZ_CHECK(std::filesystem::is_regular_file(sent),
                   fmt::format("a request names something that is not a regular file: {:?}\n{}", sent.string(), story));
    }
    const bool repaired = id.find("_fixed") != std::string::npos;
    FUZZ_CHECK(!repaired || requests.empty(), "a repaired replay was sent again\n" + story);
    std::filesystem::path ignored;
    // A backslash separates folders on Windows, so no replay name holds one, on any platform.
    const bool expected = placed && entry == Entry::File && knownDate && !repaired && id.find('\\') == std::string::npos
        && !platform::PathFromCodePageText(name, ignored);
    FUZZ_CHECK(!expected || requests.size() == 1,
               fmt::format("a replay to repair got {} requests\n{}", requests.size(), story));
    FUZZ_CHECK(requests.size() <= 1, "one play sent several requests\n" + story);
    if (placed)
        std::filesystem::remove_all(tree.Demos() / name);
    return 0;
}
