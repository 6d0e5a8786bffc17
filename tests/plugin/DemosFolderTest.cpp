// The replays-folder discovery one second after load, over temporary Documents trees.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ReplayReplacement.h"
#include "support/CodePageText.h"
#include "support/DocumentsSandbox.h"
#include "support/Files.h"
#include "support/PluginHost.h"

using namespace plugin;

namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::CodePageText;
using testing_support::DocumentsSandbox;
using testing_support::PluginHost;

const std::vector<std::string> kAskUserCommands = {"togglemenu Ravento [false]", "writeconfig [true]"};

class DemosFolderTest : public testing::Test {
protected:
    // Loads the plugin and lets the one-second discovery timer run.
    void RunDiscovery(const std::string& configured = {})
    {
        if (!configured.empty())
            host.Plugin().cvarManager->getCvar(kDemosFolderVariable).setValue(configured);
        host.Host().Advance(1.0);
    }

    std::filesystem::path MakeGameFolder(const std::filesystem::path& child) const
    {
        std::filesystem::path folder = sandbox.GameFolder() / child;
        std::filesystem::create_directories(folder);
        return folder;
    }

    std::filesystem::path DemosFolder() { return host.Plugin().demosFolder.Get(); }
    std::string Variable() const { return host.Variable(kDemosFolderVariable); }
    std::filesystem::path BackupFolder() const { return sandbox.GameFolder() / kBackupFolderName; }

    void ExpectShellBufferReleased() const
    {
#if defined(_WIN32)
        EXPECT_EQ(DocumentsSandbox::OutstandingShellBuffers(), 0);
#endif
    }

    DocumentsSandbox sandbox;
    PluginHost host;
};

TEST_F(DemosFolderTest, PrefersDemosOverDemosEpicAndCreatesTheBackupFolderBesideThem)
{
    const std::filesystem::path demos = MakeGameFolder("Demos");
    MakeGameFolder("DemosEpic");

    host.Host().Advance(0.9);
    EXPECT_TRUE(DemosFolder().empty()) << "nothing happens before the first second is over";
    host.Host().Advance(0.1);

    EXPECT_EQ(DemosFolder(), demos);
    EXPECT_EQ(Variable(), CodePageText(demos));
    EXPECT_THAT(host.Log(), ElementsAre("Created Backup Directory", "Found Demos folder at " + CodePageText(demos)));
    EXPECT_TRUE(std::filesystem::is_directory(BackupFolder()));
    EXPECT_THAT(host.Commands(), IsEmpty()) << "a found folder saves nothing by itself";
    ExpectShellBufferReleased();

    host.Host().Advance(10.0);
    EXPECT_EQ(host.Log().size(), 2u) << "the discovery runs once per load";
}

TEST_F(DemosFolderTest, TakesDemosEpicWithItsFullPathAndLeavesAnExistingBackupFolderAlone)
{
    const std::filesystem::path epic = MakeGameFolder("DemosEpic");
    MakeGameFolder(kBackupFolderName);

    RunDiscovery();

    EXPECT_EQ(DemosFolder(), epic);
    EXPECT_EQ(Variable(), CodePageText(epic));
    EXPECT_THAT(host.Log(), ElementsAre("Found Demos folder at " + CodePageText(epic)));
}

TEST_F(DemosFolderTest, OnlyDirectoriesCountAndALinkToOneIsAccepted)
{
    sandbox.Dir().MakeFile(sandbox.GameFolder() / "Demos", "not a folder");
    const std::filesystem::path elsewhere = sandbox.Dir().MakeFolder("ReplaysElsewhere");
    const std::filesystem::path link = sandbox.GameFolder() / "DemosEpic";
    MAKE_DIRECTORY_LINK_OR_SKIP(elsewhere, link);

    RunDiscovery();

    EXPECT_EQ(DemosFolder(), link);
    EXPECT_EQ(Variable(), CodePageText(link));
}

TEST_F(DemosFolderTest, NothingFoundOpensTheWindowAndSavesTheConfiguration)
{
    sandbox.Dir().MakeFile(sandbox.GameFolder() / "Demos", "a file is no replays folder");

    RunDiscovery();

    EXPECT_THAT(host.Log(), ElementsAre("Created Backup Directory"));
    EXPECT_EQ(host.Commands(), kAskUserCommands);
    EXPECT_TRUE(DemosFolder().empty());
    EXPECT_EQ(Variable(), "");
    EXPECT_TRUE(std::filesystem::is_directory(BackupFolder()));
    EXPECT_TRUE(host.Host().IsWindowOpen());
}

TEST_F(DemosFolderTest, WithoutAGameFolderTheFailedBackupIsLoggedAndTheUserIsAsked)
{
    std::filesystem::create_directories(sandbox.DocumentsFolder());

    RunDiscovery();

    const std::vector<std::string> log = host.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_THAT(log[0],
                testing::StartsWith("Could not create backup directory " + CodePageText(BackupFolder()) + ": "));
    EXPECT_EQ(host.Commands(), kAskUserCommands);
    EXPECT_FALSE(std::filesystem::exists(sandbox.GameFolder())) << "only one level is ever created";
    EXPECT_TRUE(DemosFolder().empty());
}

#if !defined(_WIN32)
TEST_F(DemosFolderTest, APathTheCodePageCannotHoldIsLoggedLossilyAndTheSearchGoesOn)
{
    // A home folder whose name is not valid UTF-8, and no game folder in it.
    const std::filesystem::path home = sandbox.Home() / "player\xFF";
    std::filesystem::create_directories(home / "Documents");
    ASSERT_EQ(::setenv("HOME", home.c_str(), 1), 0); // the sandbox restores HOME

    RunDiscovery();

    const std::vector<std::string> log = host.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_THAT(
        log[0],
        testing::StartsWith("Could not create backup directory " + sandbox.Home().string() + "/player?/Documents/"));
    EXPECT_EQ(host.Commands(), kAskUserCommands) << "the search went on and asked the user";
}
#endif

#if !defined(_WIN32)
// Found, and used, but the variable's code page cannot hold it: one line, the variable left empty.
TEST_F(DemosFolderTest, AFoundFolderTheCodePageCannotHoldIsUsedButNotStored)
{
    const std::filesystem::path home = sandbox.Home() / "player\xFF";
    const std::filesystem::path demos = home / "Documents/My Games/Pellacor/TAGame/Demos";
    std::filesystem::create_directories(demos);
    ASSERT_EQ(::setenv("HOME", home.c_str(), 1), 0); // the sandbox restores HOME

    RunDiscovery();

    EXPECT_EQ(DemosFolder(), demos);
    EXPECT_EQ(Variable(), "");
    EXPECT_THAT(host.Log(), ElementsAre("Created Backup Directory",
                                        "InitDemosFolder failed: code page conversion " + sandbox.Home().string()
                                        + "/player?/Documents/My Games/Pellacor/TAGame/Demos: "
                                        + std::make_error_code(std::errc::illegal_byte_sequence).message() + " (84)"));
}
#endif

TEST_F(DemosFolderTest, AConfiguredFolderIsTrustedAsItStands)
{
    const std::filesystem::path missing = sandbox.Home() / "not there" / "Demos";
    MakeGameFolder("Demos");

    RunDiscovery(CodePageText(missing));

    EXPECT_EQ(DemosFolder(), missing);
    EXPECT_THAT(host.Log(), IsEmpty());
    EXPECT_THAT(host.Commands(), IsEmpty());
    EXPECT_FALSE(std::filesystem::exists(BackupFolder()));
}

#if !defined(_WIN32)
TEST_F(DemosFolderTest, AConfiguredTextTheCodePageCannotReadEndsTheDiscoveryAsOneLine)
{
    RunDiscovery("Demos\xFF");

    const std::vector<std::string> log = host.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0],
              "InitDemosFolder failed: code page conversion: "
                  + std::make_error_code(std::errc::illegal_byte_sequence).message() + " (84)");
    EXPECT_TRUE(DemosFolder().empty());
    EXPECT_THAT(host.Commands(), IsEmpty());
}
#endif

TEST_F(DemosFolderTest, AVariableOfBlanksIsAPathToo)
{
    RunDiscovery("   ");

    EXPECT_EQ(DemosFolder(), std::filesystem::path("   "));
    EXPECT_THAT(host.Commands(), IsEmpty());
}

TEST(DemosFolderWithoutDocuments, AsksTheUserWithoutLogging)
{
    DocumentsSandbox sandbox(DocumentsSandbox::Documents::Unavailable);
    PluginHost host;

    host.Host().Advance(1.0);

    EXPECT_EQ(host.Commands(), kAskUserCommands);
    EXPECT_THAT(host.Log(), IsEmpty());
    EXPECT_TRUE(host.Plugin().demosFolder.Get().empty());
#if defined(_WIN32)
    EXPECT_EQ(DocumentsSandbox::OutstandingShellBuffers(), 0);
#endif
}

// A backup folder that cannot be made is logged and the search goes on; an error looking for the
// replays folder itself ends the discovery as one line at the timer.
TEST_F(DemosFolderTest, ABackupFolderErrorIsLoggedAndOnlyAReplaysFolderErrorEndsTheDiscovery)
{
    // A link that points at itself: every status query below it fails with something other
    // than "not found".
    std::filesystem::create_directories(sandbox.GameFolder().parent_path());
    MAKE_DIRECTORY_LINK_OR_SKIP(sandbox.GameFolder(), sandbox.GameFolder());

    RunDiscovery();

    const std::vector<std::string> log = host.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_THAT(log[0], testing::StartsWith("Could not create backup directory " + CodePageText(BackupFolder())));
    EXPECT_THAT(
        log[1],
        testing::StartsWith("InitDemosFolder failed: exists " + CodePageText(sandbox.GameFolder() / "Demos") + ": "));
    EXPECT_THAT(host.Commands(), IsEmpty());
    EXPECT_TRUE(host.Host().HasPlugin());
}

TEST_F(DemosFolderTest, ABackupFolderNameThatCannotBeQueriedStillOpensTheWindow)
{
    std::filesystem::create_directories(sandbox.GameFolder());
    MAKE_DIRECTORY_LINK_OR_SKIP(BackupFolder(), BackupFolder());

    RunDiscovery();

    EXPECT_THAT(host.Commands(), testing::Contains("togglemenu Ravento [false]"));
    EXPECT_TRUE(host.Plugin().demosFolder.Get().empty());
}

} // namespace
