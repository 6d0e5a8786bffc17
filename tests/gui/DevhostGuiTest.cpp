// devhost --gui as a user runs it, in a virtual X display (xvfb-run) with Mesa's software
// renderer: the window opens, scripts type and click in it, and screenshots hold a real frame.
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include "ScriptParser.h"
#include "support/CommandRun.h"
#include "support/DocumentsSandbox.h"

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
