// Loading plugin modules from disk: the registration record checks, the load sequence, and a
// clean unload that lets the same module load again.
#include <gtest/gtest.h>

#include "TestHost.h"

using devhost::Host;

namespace {

std::string LoadError(Host& host, const std::filesystem::path& path)
{
    auto error = host.LoadPluginModule(path);
    return error ? *error : std::string("(loaded)");
}

} // namespace

TEST(ModuleLoadTest, ModuleLoadsRunsAndUnloadsTwice)
{
    TestHost host;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(LoadError(*host, SDK_TEST_PLUGIN_PATH), "(loaded)");
        ASSERT_NE(host->Registration(), nullptr);
        EXPECT_STREQ(host->Registration()->typeName, "TestPlugin");
        EXPECT_EQ(host->HookedEvents(), (std::vector<std::string>{devhost::kPlayReplayEvent}));
        ASSERT_TRUE(host->Variable("Test_Value"));
        EXPECT_EQ(LoadError(*host, SDK_TEST_PLUGIN_PATH), "a plugin is already loaded");

        host->Advance(1.0);
        host->PlayReplay("R1", "today");
        host->UnloadPlugin();
        EXPECT_FALSE(host->HasPlugin());
    }
    const std::vector<std::string> oneRound{"test plugin loaded", "timeout fired", "played R1 today",
                                            "test plugin unloaded"};
    std::vector<std::string> twoRounds = oneRound;
    twoRounds.insert(twoRounds.end(), oneRound.begin(), oneRound.end());
    EXPECT_EQ(host->PluginLogLines(), twoRounds);
}

TEST(ModuleLoadTest, FilesThatAreNoPluginsGiveClearErrors)
{
    TestHost host;
    std::string missing = LoadError(*host, "/no/such/dir/Plugin.so");
    EXPECT_NE(missing.find("/no/such/dir/Plugin.so"), std::string::npos) << missing;
    EXPECT_NE(missing.find("cannot load"), std::string::npos) << missing;

    std::string noExports = LoadError(*host, PLUGINSDK_PATH);
    EXPECT_NE(noExports.find("exports no \"exports\" record"), std::string::npos) << noExports;
    EXPECT_FALSE(host->HasPlugin());
}

TEST(ModuleLoadTest, RegistrationRecordIsCheckedBeforeAnythingIsCalled)
{
    TestHost host;
    auto rejected = [&](Orvane::Plugin::PluginRegistration record) {
        auto error = host->LoadPlugin(record);
        EXPECT_FALSE(host->HasPlugin());
        return error ? *error : std::string("(loaded)");
    };
    auto record = TestPluginRecord();
    record.sdkRevision = 94;
    EXPECT_NE(rejected(record).find("revision 94"), std::string::npos);
    record = TestPluginRecord();
    record.pluginKind = 2;
    EXPECT_NE(rejected(record).find("kind 2"), std::string::npos);
    record = TestPluginRecord();
    record.releaseEntry = nullptr;
    EXPECT_NE(rejected(record).find("deleteMe"), std::string::npos);
    record = TestPluginRecord();
    record.createEntry = [] { return static_cast<std::shared_ptr<Orvane::Plugin::OrvanePlugin>*>(nullptr); };
    EXPECT_EQ(rejected(record), "getPlugin returned no plugin object");
    EXPECT_EQ(TestPlugin::liveObjects, 0);
}
