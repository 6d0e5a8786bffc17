// Console variables, the configuration file, and console commands.
#include <fstream>

#include <gtest/gtest.h>

#include "TestHost.h"
#include "orvane/CVarManagerWrapper.h"
#include "support/Files.h"
#include "support/TempDir.h"

using devhost::HostOptions;
using testing_support::ReadWholeFile;
using testing_support::TempDir;

namespace {

HostOptions WithConfig(const std::filesystem::path& file)
{
    HostOptions options;
    options.configFile = file;
    return options;
}

} // namespace

TEST(HostConsoleTest, RegisteredVariableKeepsItsFlagsAndFirstRegistrationWins)
{
    TestHost host;
    TestPlugin& plugin = host.Load([](TestPlugin& self) {
        self.cvarManager->registerCvar("Speed", "5", "how fast", false, true, 1.0f, true, 9.0f, false);
        // A second registration neither resets the value nor changes the description.
        self.cvarManager->getCvar("Speed").setValue("7");
        self.cvarManager->registerCvar("Speed", "1", "other");
    });

    auto speed = host->Variable("Speed");
    ASSERT_TRUE(speed);
    EXPECT_EQ(speed->value, "7");
    EXPECT_EQ(speed->defaultValue, "5");
    EXPECT_EQ(speed->description, "how fast");
    EXPECT_FALSE(speed->searchable);
    EXPECT_TRUE(speed->hasMin && speed->hasMax);
    EXPECT_EQ(speed->min, 1.0f);
    EXPECT_EQ(speed->max, 9.0f);
    EXPECT_FALSE(speed->saveToConfig);

    EXPECT_FALSE(plugin.cvarManager->getCvar("Missing"));
    EXPECT_EQ(plugin.cvarManager->getCvar("Missing").getStringValue(), "");
    EXPECT_FALSE(host->Variable("Missing"));
}

TEST(HostConsoleTest, WriteconfigSavesFlaggedVariablesAndTheNextHostStartsFromThem)
{
    TempDir dir;
    auto config = dir.Path() / "host.cfg";
#ifndef _WIN32
    // Something planted where a writer might put its temporary file is left alone.
    auto victim = dir.MakeFile("victim", "victim");
    std::filesystem::create_symlink(victim, dir.Path() / "host.cfg.tmp");
#endif
    // Text that breaks naive formats: quotes, backslashes, line breaks, control bytes, UTF-8.
    const std::string awkward = "C:\\Users\\\"Zoë\"\\Demos\nsecond line\t\x01 end ";
    {
        TestHost host(WithConfig(config));
        host.Load([&](TestPlugin& self) {
            self.cvarManager->registerCvar("Folder", "", "", true, false, 0, false, 0, true).setValue(awkward);
            self.cvarManager->registerCvar("Empty", "x", "", true, false, 0, false, 0, true).setValue("");
            self.cvarManager->registerCvar("Volatile", "v", "", true, false, 0, false, 0, false).setValue("changed");
        });
        EXPECT_TRUE(host->ExecuteCommand("writeconfig"));
    }
    EXPECT_EQ(ReadWholeFile(config).find("Volatile"), std::string::npos);
#ifndef _WIN32
    EXPECT_EQ(ReadWholeFile(victim), "victim");
    EXPECT_FALSE(std::filesystem::is_symlink(config));
#endif

    TestHost host(WithConfig(config));
    host.Load([](TestPlugin& self) {
        self.cvarManager->registerCvar("Folder", "default");
        self.cvarManager->registerCvar("Empty", "default");
        self.cvarManager->registerCvar("Volatile", "v");
    });
    EXPECT_EQ(host->Variable("Folder")->value, awkward);
    EXPECT_EQ(host->Variable("Empty")->value, "");
    EXPECT_EQ(host->Variable("Volatile")->value, "v");
}

TEST(HostConsoleTest, SavedValuesOfVariablesNotRegisteredThisRunSurviveWriteconfig)
{
    TempDir dir;
    auto config = dir.MakeFile("host.cfg", "Other \"kept value\"\nthis line is broken\nFolder \"old\"\n");
    {
        TestHost host(WithConfig(config));
        EXPECT_TRUE(host.HostSaid("host.cfg:2: malformed"));
        host.Load([](TestPlugin& self) { self.cvarManager->registerCvar("Folder", "").setValue("new"); });
        EXPECT_TRUE(host->WriteConfig());
    }
    TestHost host(WithConfig(config));
    host.Load([](TestPlugin& self) {
        self.cvarManager->registerCvar("Other", "");
        self.cvarManager->registerCvar("Folder", "");
    });
    EXPECT_EQ(host->Variable("Other")->value, "kept value");
    EXPECT_EQ(host->Variable("Folder")->value, "new");
}

TEST(HostConsoleTest, WriteconfigFailureIsReportedNotClaimedAsSuccess)
{
    TempDir dir;
    TestHost host(WithConfig(dir.Path() / "no-such-folder" / "host.cfg"));
    host.Load([](TestPlugin& self) { self.cvarManager->registerCvar("Folder", "x"); });
    EXPECT_FALSE(host->WriteConfig());
    EXPECT_TRUE(host.HostSaid("cannot write"));
    EXPECT_FALSE(host.HostSaid("configuration saved"));
}

TEST(HostConsoleTest, TogglemenuOpensAndClosesTheWindowByMenuName)
{
    TestHost host;
    TestPlugin& plugin = host.Load([](TestPlugin&) {});

    EXPECT_TRUE(host->ExecuteCommand("togglemenu Test"));
    EXPECT_TRUE(host->IsWindowOpen());
    EXPECT_TRUE(plugin.windowOpen);
    EXPECT_TRUE(host->ExecuteCommand("togglemenu Test"));
    EXPECT_FALSE(host->IsWindowOpen());
    EXPECT_EQ(plugin.openedCalls, 1);
    EXPECT_EQ(plugin.closedCalls, 1);
    EXPECT_NE(plugin.uiThread, std::this_thread::get_id());

    // The title is not the menu name.
    host->ExecuteCommand("togglemenu Test Window");
    EXPECT_FALSE(host->IsWindowOpen());
    EXPECT_TRUE(host.HostSaid("no menu named Test Window"));
}

TEST(HostConsoleTest, UnknownCommandsAreReportedAndRecorded)
{
    TestHost host;
    host.Load([](TestPlugin&) {});
    EXPECT_FALSE(host->ExecuteCommand("fly away"));
    EXPECT_TRUE(host.HostSaid("Unknown command: fly away"));
    auto commands = host->ExecutedCommands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].text, "fly away");
    EXPECT_FALSE(commands[0].fromPlugin);
}

TEST(HostConsoleTest, PluginCommandsAreRecordedAtOnceAndRunOnTheGameThreadLater)
{
    TestHost host;
    TestPlugin& plugin = host.Load([](TestPlugin&) {});

    plugin.cvarManager->executeCommand("togglemenu Test", false);
    plugin.cvarManager->executeCommand("writeconfig");
    auto commands = host->ExecutedCommands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].text, "togglemenu Test");
    EXPECT_FALSE(commands[0].echo);
    EXPECT_TRUE(commands[0].fromPlugin);
    EXPECT_TRUE(commands[1].echo);
    EXPECT_FALSE(host->IsWindowOpen()) << "queued, not run on the caller's thread";

    host->RunGameWork();
    EXPECT_TRUE(host->IsWindowOpen());
    EXPECT_TRUE(host.HostSaid("> writeconfig"));
    EXPECT_FALSE(host.HostSaid("> togglemenu"));
}

TEST(HostConsoleTest, PluginLogLinesArePassedOnExactly)
{
    std::vector<std::string> printed;
    HostOptions options;
    options.pluginLog = [&printed](const std::string& line) { printed.push_back(line); };
    TestHost host(std::move(options));
    TestPlugin& plugin = host.Load([](TestPlugin&) {});
    plugin.cvarManager->log("  spaced {} and % signs  ");
    plugin.cvarManager->log("");
    const std::vector<std::string> expected{"  spaced {} and % signs  ", ""};
    EXPECT_EQ(printed, expected);
    EXPECT_EQ(host->PluginLogLines(), expected);
}
