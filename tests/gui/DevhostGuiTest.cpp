// devhost --gui as a user runs it, in a virtual X display (xvfb-run) with Mesa's software
// renderer: the window opens, scripts type and click in it, and screenshots hold a real frame.
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include "PaneLayout.h"
#include "ScriptParser.h"
#include "support/CommandRun.h"
#include "support/DocumentsSandbox.h"
#include "support/Files.h"

using testing_support::CommandRun;
using testing_support::DocumentsSandbox;
using testing_support::RunCommand;

namespace {

bool XvfbAvailable()
{
    return std::system("command -v xvfb-run > /dev/null 2>&1") == 0;
}

// Runs devhost on the Ravento module with a script; with a desktop window, in a new virtual
// display. The sandbox's HOME reaches devhost through the environment.
CommandRun RunDevhost(const DocumentsSandbox& sandbox, const std::string& script, bool gui)
{
    auto scriptFile = sandbox.Dir().MakeFile("script.txt", script);
    // Mesa's software renderer leaves a few bytes behind at exit (Dear ImGui's OpenGL 3 backend
    // alone shows it), which LeakSanitizer would report in sanitizer builds.
    std::string display = gui ? "env LIBGL_ALWAYS_SOFTWARE=1 ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" "
                                "xvfb-run -a -s '-screen 0 1280x720x24' "
                              : "";
    return RunCommand(fmt::format("timeout 120 {}'{}' --plugin '{}' {} --script '{}'", display, DEVHOST_PATH,
                                  RAVENTO_MODULE_PATH, gui ? "--gui" : "", scriptFile.string()),
                      sandbox.Dir().Path());
}

struct Picture {
    int width = 0;
    int height = 0;
    std::size_t colours = 0; // distinct RGB values
};

Picture LoadPicture(const std::filesystem::path& file)
{
    Picture picture;
    int channels = 0;
    unsigned char* pixels = stbi_load(file.string().c_str(), &picture.width, &picture.height, &channels, 3);
    if (!pixels)
        return picture;
    std::set<std::tuple<unsigned char, unsigned char, unsigned char>> colours;
    for (int i = 0; i < picture.width * picture.height; ++i)
        colours.emplace(pixels[3 * i], pixels[3 * i + 1], pixels[3 * i + 2]);
    stbi_image_free(pixels);
    picture.colours = colours.size();
    return picture;
}

// A cleared frame has one colour; a window with its title, text and button has many more.
constexpr std::size_t kFewestColoursOfAWindow = 16;

class DevhostGuiTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!XvfbAvailable())
            GTEST_SKIP() << "xvfb-run is not installed";
        // A replays folder the plugin finds by itself, so it does not open its window unasked.
        std::filesystem::create_directories(sandbox.GameFolder() / "Demos");
    }

    DocumentsSandbox sandbox;
};

} // namespace

TEST_F(DevhostGuiTest, ScreenshotsHoldTheDrawnFrameAndTheWindowAlone)
{
    auto full = sandbox.Dir().Path() / "full.png";
    auto window = sandbox.Dir().Path() / "window.png";
    CommandRun run = RunDevhost(sandbox,
                                fmt::format("wait 1.2\n"
                                            "console togglemenu Ravento\n"
                                            "frame 3\n"
                                            "screenshot \"{}\"\n"
                                            "screenshot \"{}\" window\n"
                                            "quit\n",
                                            full.string(), window.string()),
                                true);
    ASSERT_EQ(run.status, 0) << run.err;

    Picture frame = LoadPicture(full);
    EXPECT_EQ(frame.width, 1280);
    EXPECT_EQ(frame.height, 720);
    EXPECT_GE(frame.colours, kFewestColoursOfAWindow) << "the frame looks blank";

    Picture panel = LoadPicture(window);
    EXPECT_GT(panel.width, 100);
    EXPECT_LT(panel.width, frame.width);
    EXPECT_LT(panel.height, frame.height / 2) << "only the plugin's window, not the console pane";
    EXPECT_GE(panel.colours, kFewestColoursOfAWindow);
}

TEST_F(DevhostGuiTest, TypeAndClickDriveThePanelInTheWindowAsHeadless)
{
    auto chosen = sandbox.Dir().MakeFolder("Chosen Replays");
    CommandRun run = RunDevhost(sandbox,
                                fmt::format("wait 1.2\n"
                                            "console togglemenu Ravento\n"
                                            "frame 3\n"
                                            "type {}\n"
                                            "show\n"
                                            "click Check\n"
                                            "wait 0.3\n"
                                            "show\n"
                                            "cvar Ravento_DemosFolder\n"
                                            "quit\n",
                                            chosen.string()),
                                true);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(fmt::format("{{ {} }}", chosen.string())), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(no window is open)"), std::string::npos) << "a good folder closes the window\n" << run.out;
    EXPECT_NE(run.out.find(fmt::format("Ravento_DemosFolder = {}", chosen.string())), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("togglemenu: Ravento closed"), std::string::npos) << run.err;
}

// Real X input through xdotool (tests/gui/drive_gui.sh): the console line runs commands and
// recalls them with Up, a replays pane's Play button uploads a replay that the stand-in service
// answers, and the settings window takes a folder typed into it and closes on Check.
TEST_F(DevhostGuiTest, RealInputDrivesTheConsoleTheReplaysPaneAndTheSettingsWindow)
{
    if (std::system("command -v xdotool > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "xdotool is not installed";
    const std::string replay = "7C1F0E4A9B2D4E6F";
    auto demos = sandbox.GameFolder() / "Demos";
    // Sorted after the replay, so the replay's Play button is on the first row.
    sandbox.Dir().MakeFile("Documents/My Games/Pellacor/TAGame/Demos/" + replay + ".replay", "PELLACOR-REPLAY body");
    sandbox.Dir().MakeFile("Documents/My Games/Pellacor/TAGame/Demos/notes.txt", "not a replay");
    auto chosen = sandbox.Dir().MakeFolder("Chosen");

    // Where the buttons are: the panes' fixed layout, and Dear ImGui's default style (8 pixels of
    // window padding, 19-pixel title bars and frames, 4 pixels between items) for the plugin's
    // window, which the driver pins at 60,60.
    constexpr float kPadding = 8.0f;
    constexpr float kFrame = 19.0f;
    const float playX = 1280.0f - pane_layout::kSideWidth + kPadding + pane_layout::kPlayButtonX
        + pane_layout::kPlayButtonWidth / 2;
    const float playY = pane_layout::kReplayListTop + kFrame / 2;
    const float entryY = 60.0f + kFrame + kPadding + 13.0f + 4.0f + kFrame / 2;
    const float checkY = entryY + kFrame + 4.0f;
    std::string environment = fmt::format(
        "DEVHOST='{}' MODULE='{}' SERVICE='{}' SERVICE_HOST='{}' SANDBOX='{}' REPLAY_ID={} CHOSEN_FOLDER='{}' "
        "CONSOLE_X=400 CONSOLE_Y={} PLAY_X={} PLAY_Y={} ENTRY_X=150 ENTRY_Y={} CHECK_X=89 CHECK_Y={}",
        DEVHOST_PATH, RAVENTO_MODULE_PATH, SERVICE_PATH, RAVENTO_SERVICE_HOST, sandbox.Home().string(), replay,
        chosen.string(), static_cast<int>(720.0f - kPadding - kFrame / 2), static_cast<int>(playX), static_cast<int>(playY), static_cast<int>(entryY),
        static_cast<int>(checkY));
    CommandRun run = RunCommand(fmt::format("env {} timeout 180 xvfb-run -a -s '-screen 0 1280x720x24' bash '{}'",
                                            environment, DRIVE_GUI_SCRIPT),
                                sandbox.Dir().Path());
    const std::string devhostOut = testing_support::ReadWholeFile(sandbox.Home() / "devhost.out");
    const std::string devhostErr = testing_support::ReadWholeFile(sandbox.Home() / "devhost.err");
    ASSERT_EQ(run.status, 0) << run.out << run.err << "\n--- devhost's output\n" << devhostOut << devhostErr;
    EXPECT_NE(run.out.find("step: done"), std::string::npos) << run.out;
    EXPECT_EQ(testing_support::ReadWholeFile(demos / (replay + "_fixed.replay")), "PELLACOR-REPLAY body");
    EXPECT_EQ(devhostErr.find("notes"), std::string::npos) << "a file that is no replay has no Play button";
}

TEST(DevhostHeadlessScreenshotTest, FailsAndSaysItNeedsAWindow)
{
    DocumentsSandbox sandbox;
    auto picture = sandbox.Dir().Path() / "none.png";
    CommandRun run = RunDevhost(sandbox, fmt::format("screenshot \"{}\"\nquit\n", picture.string()), false);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("screenshots need a window (devhost --gui)"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(picture));
}

TEST(ScreenshotCommandTest, TakesAFileAndOptionallyWindow)
{
    ParsedLine whole = ParseScriptLine("screenshot \"my shots/frame.png\"");
    ASSERT_TRUE(whole.command) << whole.error;
    EXPECT_EQ(whole.command->verb, ScriptVerb::Screenshot);
    EXPECT_EQ(whole.command->text, "my shots/frame.png");
    EXPECT_FALSE(whole.command->windowOnly);

    ParsedLine window = ParseScriptLine("screenshot panel.png window");
    ASSERT_TRUE(window.command) << window.error;
    EXPECT_TRUE(window.command->windowOnly);

    EXPECT_FALSE(ParseScriptLine("screenshot").error.empty());
    EXPECT_FALSE(ParseScriptLine("screenshot a.png b.png").error.empty());
}
