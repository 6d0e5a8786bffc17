// The real plugin module, loaded from disk, unloaded while its requests are outstanding and
// its timer is pending, then loaded again. Once the module is unmapped, any callable of it
// the host still held would crash when run or destroyed, so this also proves the host drops
// them all before it lets the module go.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "orvane/host/Host.h"
#include "orvane/host/RecordingTransport.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;
using devhost::Host;
using devhost::RecordingTransport;
using testing_support::TempDir;

namespace {

bool ModuleIsMapped()
{
#if defined(_WIN32)
    return GetModuleHandleW(L"Ravento.dll") != nullptr;
#else
    std::ifstream maps("/proc/self/maps");
    std::string text((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
    return text.find("/Ravento.so") != std::string::npos;
#endif
}

std::string Escaped(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string ReadBytes(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    return stream ? std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()) : "<missing>";
}

class ModuleLifetimeTest : public testing::Test {
protected:
    ModuleLifetimeTest()
    {
        dir.MakeFile("TAGame/Demos/R1.replay", "first");
        dir.MakeFile("TAGame/Demos/R2.replay", "second");
        dir.MakeFolder("TAGame/OV_Ravento_BackupReplays");
        // The configured folder is used as it stands, with no search of the Documents folder.
        std::ofstream(config) << "Ravento_DemosFolder \"" << Escaped(demos.string()) << "\"\n";
        devhost::HostOptions options;
        options.configFile = config;
        auto transport = std::make_unique<RecordingTransport>();
        recorder = transport.get();
        options.transport = std::move(transport);
        options.pluginLog = [](const std::string&) {};
        options.hostLog = [](const std::string&) {};
        host = std::make_unique<Host>(std::move(options));
    }

    void Load()
    {
        auto error = host->LoadPluginModule(RAVENTO_MODULE_PATH);
        ASSERT_FALSE(error) << *error;
        ASSERT_TRUE(ModuleIsMapped());
    }

    void Unload()
    {
        host->UnloadPlugin();
        EXPECT_FALSE(host->Plugin());
        ASSERT_FALSE(ModuleIsMapped()) << "the module stayed loaded, so a callable left behind would go unnoticed";
    }

    void Play(const std::string& id) { host->PlayReplay(id, "2025-06-01 12:00"); }

    std::vector<std::string> FolderNames() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path() / "TAGame"))
            names.push_back(entry.path().lexically_relative(dir.Path() / "TAGame").generic_string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    const std::filesystem::path demos = dir.Path() / "TAGame" / "Demos";
    TempDir configDir;
    std::filesystem::path config = configDir.Path() / "devhost.cfg";
    RecordingTransport* recorder = nullptr;
    std::unique_ptr<Host> host;
};

} // namespace

TEST_F(ModuleLifetimeTest, UnloadedWithRepliesAndATimerPendingNothingOfItRunsAndTheNextLoadIsFresh)
{
    const std::vector<std::string> untouched{"Demos", "Demos/R1.replay", "Demos/R2.replay", "OV_Ravento_BackupReplays"};

    // Two uploads outstanding at the unload; their replies come after the module is gone.
    Load();
    host->Advance(1.5); // the plugin takes its folder from the configuration
    Play("R1");
    Play("R2");
    ASSERT_EQ(recorder->PendingCount(), 2u);
    Unload();
    std::vector<std::string> logAtUnload = host->PluginLogLines();
    ASSERT_TRUE(recorder->AnswerNext(200, "late"));
    ASSERT_TRUE(recorder->AnswerNext(200, "late"));
    ASSERT_TRUE(host->Settle(10s));
    host->Advance(5.0);
    Play("R1");
    EXPECT_EQ(recorder->PendingCount(), 0u) << "no hook is left to send";
    EXPECT_EQ(FolderNames(), untouched);

    // The load's timer is still pending at the unload.
    Load();
    ASSERT_EQ(host->PendingTimeouts().size(), 1u);
    Unload();
    host->Advance(5.0);
    EXPECT_EQ(host->PluginLogLines(), logAtUnload) << "nothing of an unloaded plugin ran";

    // A fresh object: it knows no folder until its own timer has run, then does the whole job.
    Load();
    Play("R1");
    EXPECT_EQ(recorder->PendingCount(), 0u);
    host->Advance(1.5);
    Play("R1");
    ASSERT_TRUE(recorder->AnswerNext(200, "fixed"));
    ASSERT_TRUE(host->Settle(10s));
    EXPECT_EQ(ReadBytes(demos / "R1_fixed.replay"), "fixed");
    Unload();
}
