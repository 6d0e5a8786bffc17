// The devhost program run as a user runs it: a script against a built plugin module.
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#endif

#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "support/CommandRun.h"
#include "support/Files.h"
#include "support/TempDir.h"

using testing_support::CommandRun;
using testing_support::ReadWholeFile;
using testing_support::RunCommand;
using testing_support::TempDir;

namespace {

// Runs devhost with the script given on standard input (or as --script when asFile).
CommandRun RunDevhost(const TempDir& dir, const std::string& arguments, const std::string& script, bool asFile = true)
{
    auto scriptFile = dir.MakeFile("script.txt", script);
    std::string input =
        asFile ? fmt::format("--script \"{}\"", scriptFile.string()) : fmt::format("< \"{}\"", scriptFile.string());
    return RunCommand(fmt::format("\"{}\" {} {}", DEVHOST_PATH, arguments, input), dir.Path());
}

// The program's exit status from what the shell reported.
int ExitStatus(const CommandRun& run)
{
#ifdef _WIN32
    return run.status;
#else
    return WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
#endif
}

std::string Plugin(const char* path)
{
    return fmt::format("--plugin \"{}\"", path);
}

} // namespace

TEST(DevhostRunTest, ScriptDrivesTheTestPluginThroughEveryCommand)
{
    TempDir dir;
    auto config = dir.Path() / "host.cfg";
    CommandRun run = RunDevhost(dir, Plugin(SDK_TEST_PLUGIN_PATH) + fmt::format(" --config \"{}\"", config.string()),
                                "# the whole tour\n"
                                "\n"
                                "show\n"
                                "wait 1.1\n"
                                "play \"ID 1\" \"2024-01-01 10:00\"\n"
                                "play-null\n"
                                "settle\n"
                                "console togglemenu Test\n"
                                "show\n"
                                "type hello\n"
                                "clear\n"
                                "type hello there\n"
                                "click Check\n"
                                "cvar Test_Value\n"
                                "console writeconfig\n"
                                "console no-such-command\n"
                                "quit\n"
                                "console togglemenu Test\n");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string expected = "test plugin loaded\n"
                                 "= (no window is open)\n"
                                 "timeout fired\n"
                                 "played ID 1 2024-01-01 10:00\n"
                                 "played nothing\n";
    ASSERT_EQ(run.out.substr(0, expected.size()), expected) << run.out;
    std::string rest = run.out.substr(expected.size());
    EXPECT_NE(rest.find("= Test Window"), std::string::npos) << "drawn before show looked\n" << rest;
    EXPECT_NE(rest.find("[ Check ]"), std::string::npos) << rest;
    EXPECT_NE(rest.find("checked hello there\n= Test_Value = start\ntest plugin unloaded\n"), std::string::npos)
        << rest;
    EXPECT_NE(ReadWholeFile(config).find("Test_Value \"start\""), std::string::npos);
    EXPECT_NE(run.err.find("onLoad: TestPlugin loaded"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Unknown command: no-such-command"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("togglemenu: Test closed"), std::string::npos) << "nothing runs after quit";
}

TEST(DevhostRunTest, ScriptOnStandardInputAgainstTheRaventoModule)
{
    TempDir dir;
    CommandRun run = RunDevhost(dir, Plugin(RAVENTO_MODULE_PATH), "console togglemenu Ravento\nshow\n", false);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Registration record: Ravento 1.0, SDK revision 95, kind 1"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("= Ravento"), std::string::npos) << "the window's title, captured: " << run.out;
}

TEST(DevhostRunTest, BadScriptsAndModulesFailClearlyWithoutRunningFurther)
{
    TempDir dir;
    auto config = dir.Path() / "host.cfg";
    auto withConfig = Plugin(SDK_TEST_PLUGIN_PATH) + fmt::format(" --config \"{}\"", config.string());

    CommandRun malformed = RunDevhost(dir, withConfig, "wait soon\nconsole writeconfig\n");
    EXPECT_NE(malformed.status, 0);
    EXPECT_NE(malformed.err.find("script.txt:1: wait: 'soon' is not a number of seconds"), std::string::npos)
        << malformed.err;
    EXPECT_FALSE(std::filesystem::exists(config)) << "the line after the error ran";

    CommandRun unknown = RunDevhost(dir, withConfig, "show\njump 3\n");
    EXPECT_NE(unknown.status, 0);
    EXPECT_NE(unknown.err.find("script.txt:2: unknown command 'jump'"), std::string::npos) << unknown.err;

    CommandRun failedClick = RunDevhost(dir, withConfig, "click Check\n");
    EXPECT_NE(failedClick.status, 0);
    EXPECT_NE(failedClick.err.find("click: no button 'Check'"), std::string::npos) << failedClick.err;

    CommandRun missing = RunDevhost(dir, Plugin("/no/such/Plugin.so"), "quit\n");
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.err.find("cannot load plugin module /no/such/Plugin.so"), std::string::npos)
        << "exit status " << missing.status << ": " << missing.err;

    CommandRun notAPlugin = RunDevhost(dir, Plugin(PLUGINSDK_PATH), "quit\n");
    EXPECT_NE(notAPlugin.status, 0);
    EXPECT_NE(notAPlugin.err.find("is not an Orvane plugin"), std::string::npos) << notAPlugin.err;

    CommandRun badOption = RunDevhost(dir, "--no-such-option", "quit\n");
    EXPECT_NE(badOption.status, 0);
}

TEST(DevhostRunTest, AScriptWithATypoRunsNothingAndNamesTheVerbMeant)
{
    TempDir dir;
    auto config = dir.Path() / "host.cfg";
    CommandRun run =
        RunDevhost(dir, Plugin(SDK_TEST_PLUGIN_PATH) + fmt::format(" --config \"{}\"", config.string()),
                   "console writeconfig\nplay A 2025-06-14\npley B 2025-06-14\nwait\n");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("script.txt:3: unknown command 'pley' (did you mean 'play'?)"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("script.txt:4: wait: usage"), std::string::npos) << "every bad line is named\n" << run.err;
    EXPECT_EQ(run.out.find("played A"), std::string::npos) << "the lines before the typo ran\n" << run.out;
    EXPECT_FALSE(std::filesystem::exists(config)) << "the lines before the typo ran";
}

TEST(DevhostRunTest, OptionsThatCannotWorkAreRefusedAtStart)
{
    TempDir dir;
    for (const char* connectTo : {"garbage", "repair.ravento.test:443:127.0.0.1", "repair.ravento.test:443:127.0.0.1:x",
                                  "repair.ravento.test:0:127.0.0.1:8443", ":443:127.0.0.1:8443"}) {
        CommandRun run = RunDevhost(dir, Plugin(RAVENTO_MODULE_PATH) + fmt::format(" --connect-to \"{}\"", connectTo),
                                    "console writeconfig\n");
        EXPECT_EQ(ExitStatus(run), 2) << connectTo;
        EXPECT_NE(run.err.find("HOST:PORT:ADDR:PORT"), std::string::npos) << connectTo << "\n" << run.err;
        EXPECT_EQ(run.err.find("onLoad"), std::string::npos) << "the plugin was loaded for " << connectTo;
    }
    CommandRun mistyped = RunDevhost(dir, Plugin(RAVENTO_MODULE_PATH) + " --conect-to x", "quit\n");
    EXPECT_EQ(ExitStatus(mistyped), 2);
    EXPECT_NE(mistyped.err.find("(did you mean '--connect-to'?)"), std::string::npos) << mistyped.err;
    CommandRun good = RunDevhost(
        dir, Plugin(RAVENTO_MODULE_PATH) + " --connect-to repair.ravento.test:443:[::1]:8443", "quit\n");
    // Accepted (a build without libcurl then refuses --connect-to as a whole, for its own reason).
    EXPECT_EQ(good.err.find("HOST:PORT:ADDR:PORT"), std::string::npos) << good.err;

#if !defined(_WIN32)
    // A Windows module on Linux: the loader's words, then what to run instead.
    auto dll = dir.MakeFile("Ravento.dll", "MZ not for this system");
    CommandRun windowsModule = RunDevhost(dir, fmt::format("--plugin \"{}\"", dll.string()), "quit\n");
    EXPECT_NE(windowsModule.status, 0);
    EXPECT_NE(windowsModule.err.find("devhost.exe under Wine"), std::string::npos) << windowsModule.err;
    CommandRun soModule = RunDevhost(dir, Plugin("/no/such/Plugin.so"), "quit\n");
    EXPECT_EQ(soModule.err.find("under Wine"), std::string::npos) << "the hint is for .dll files only";
#endif
}

// Each play that sends nothing says why on standard error, and only those.
TEST(DevhostRunTest, APlayThatSendsNothingSaysWhy)
{
    TempDir dir;
    auto demos = dir.MakeFolder("Demos");
    dir.MakeFile("Demos/SENT.replay", "PELLACOR-REPLAY");
    dir.MakeFile("Demos/OLD.replay", "PELLACOR-REPLAY");
    dir.MakeFile("Demos/DONE_fixed.replay", "PELLACOR-REPLAY");
    dir.MakeFolder("Demos/FOLDER.replay");
    auto config = dir.MakeFile("host.cfg", fmt::format("Ravento_DemosFolder \"{}\"\n", demos.generic_string()));
    CommandRun run = RunDevhost(dir, Plugin(RAVENTO_MODULE_PATH) + fmt::format(" --config \"{}\"", config.string()),
                                "wait 1.1\n"
                                "play SENT 2025-06-14\n"
                                "play OLD 14/06/2025\n"
                                "play OLD 2026-06-14\n"
                                "play DONE_fixed 2025-06-14\n"
                                "play MISSING 2025-06-14\n"
                                "play FOLDER 2025-06-14\n"
                                "play A\\B 2025-06-14\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("play SENT"), std::string::npos) << "a sent replay is not reported\n" << run.err;
    for (const char* expected : {"play OLD 14/06/2025: no request was sent (the plugin does not accept the date",
                                 "play OLD 2026-06-14: no request was sent (the plugin does not accept the date",
                                 "play DONE_fixed 2025-06-14: no request was sent (the identifier contains \"_fixed\"",
                                 "play MISSING 2025-06-14: no request was sent (MISSING.replay is not in the replays "
                                 "folder",
                                 "play FOLDER 2025-06-14: no request was sent (FOLDER.replay in the replays folder",
                                 "play A\\B 2025-06-14: no request was sent (the identifier holds a path separator"})
        EXPECT_NE(run.err.find(expected), std::string::npos) << expected << "\n" << run.err;
}

// Inputs that once kept devhost waiting for ever or growing without bound are refused at once,
// by name, before any plugin is loaded.
TEST(DevhostRunTest, InputsThatAreNoRegularFileOrPastTheirLimitsAreRefused)
{
    TempDir dir;
    const std::string longLine(100000, 'a');
    dir.MakeFile("long.cfg", longLine);
    dir.MakeFile("large.cfg", std::string(2 << 20, '\n'));
    dir.MakeFile("long.txt", "show\n" + longLine + "\n");
    dir.MakeFile("quit.txt", "quit\n");
    auto in = [&dir](const char* name) { return fmt::format("\"{}\"", (dir.Path() / name).string()); };
    const std::string quit = "--script " + in("quit.txt");
    struct Case {
        std::string arguments;
        std::string says;
    };
    std::vector<Case> cases = {
        {"--script " + in("."), "devhost: "},
        {"--config " + in(".") + " " + quit, "devhost: "},
        {"--config " + in("long.cfg") + " " + quit, "long.cfg:1: line longer than 65536 bytes"},
        {"--config " + in("large.cfg") + " " + quit, "large.cfg is larger than 1048576 bytes"},
        {"--script " + in("long.txt"), "long.txt:2: line longer than 65536 bytes"},
        {"< " + in("long.txt"), "<stdin>:2: line longer than 65536 bytes"},
    };
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir.Path() / "fifo").c_str(), 0600), 0);
    // Named as they stand (a temporary folder's path holds no blank), so the message quotes them exactly.
    for (const std::string& special : {(dir.Path() / "fifo").string(), std::string("/dev/zero")}) {
        cases.push_back({"--config " + special + " " + quit, special + " is not a regular file"});
        cases.push_back({"--script " + special, special + " is not a regular file"});
    }
    cases.push_back({"< /dev/zero", "<stdin>:1: line longer than 65536 bytes"});
#endif
    for (const Case& refused : cases) {
        CommandRun run =
            RunCommand(fmt::format("\"{}\" {} {}", DEVHOST_PATH, Plugin(SDK_TEST_PLUGIN_PATH), refused.arguments),
                       dir.Path());
        EXPECT_NE(run.status, 0) << refused.arguments;
        EXPECT_NE(run.err.find(refused.says), std::string::npos) << refused.arguments << ": " << run.err;
        EXPECT_EQ(run.out, "") << refused.arguments << ": the plugin was loaded";
    }
}
