// The settings panel through real headless frames, typed into and clicked as a user would.
//
// The panel's entry text and warning live for as long as the module, so they carry over from
// one test to the next here just as they do from one plugin object to the next; each test
// starts by emptying the entry.
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include "ReplayReplacement.h"
#include "support/CodePageAssumption.h"
#include "support/CodePageText.h"
#include "support/DocumentsSandbox.h"
#include "support/Files.h"
#include "support/PluginHost.h"

using namespace plugin;

namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;
using testing_support::CodePageText;
using testing_support::DocumentsSandbox;
using testing_support::FilesystemCodePageHolds;
using testing_support::PluginHost;

constexpr char kWarning[] = "Please input a VALID directory to your Replays Folder";
const std::vector<std::string> kCheckCommands = {"togglemenu Ravento [false]", "writeconfig [true]"};

// A path as the user types it: Dear ImGui delivers typed text as UTF-8.
std::string Typed(const std::filesystem::path& path)
{
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

// What the entry holds, mirrored here because the panel keeps it across tests.
std::string entryText;

std::size_t CharacterCount(const std::string& utf8)
{
    std::size_t count = 0;
    for (const char byte : utf8)
        count += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
    return count;
}

class SettingsPanelTest : public testing::Test {
protected:
    void SetUp() override
    {
        host.OpenWindow();
        ClearEntry();
    }

    // The callable handed to Execute, then the commands it issued.
    void RunGameSide()
    {
        host.Host().RunGameWork();
        host.Host().RunGameWork();
    }

    void Type(const std::string& text)
    {
        ASSERT_TRUE(host.Host().TypeText(text));
        entryText += text;
    }

    void ClearEntry()
    {
        if (entryText.empty())
            return;
        ASSERT_TRUE(host.Host().TypeText(""));
        const std::size_t count = CharacterCount(entryText);
        for (std::size_t i = 0; i < count; ++i) {
            host.Host().QueueKey(ImGuiKey_Backspace, true);
            host.Host().QueueKey(ImGuiKey_Backspace, false);
        }
        host.Host().RunFrames(static_cast<int>(2 * count + 1));
        entryText.clear();
        ASSERT_THAT(Frame(), HasSubstr("{ (hint) Replay Folder Path... }")) << "the entry did not empty";
    }

    // Clicks "Check"; a successful check's commands are run later by the game side.
    void Check() { ASSERT_TRUE(host.Host().Click("Check")); }

    std::string Frame() { return host.Host().CaptureFrameText(); }
    std::filesystem::path DemosFolder() { return host.Plugin().demosFolder.Get(); }
    std::string Variable() const { return host.Variable(kDemosFolderVariable); }

    DocumentsSandbox sandbox;
    PluginHost host;
};

TEST_F(SettingsPanelTest, WhileRateLimitedAFrameShowsOnlyTheNotice)
{
    host.Plugin().rateLimitHit = true;
    EXPECT_EQ(Frame(), "Ravento\nRate Limit Hit (10 every 30 minutes)\n");

    host.Plugin().rateLimitHit = false;
    EXPECT_THAT(Frame(), HasSubstr("[ Check ]")) << "the entry comes back once the limit is over";
}

TEST_F(SettingsPanelTest, OnlyADirectoryPassesAndASuccessfulCheckClearsTheWarning)
{
    EXPECT_THAT(Frame(), HasSubstr("Enter the path to your demos folder..."));

    // Empty entry: a warning, nothing else. The rows stand in their order.
    Check();
    EXPECT_EQ(Frame(),
              "Ravento\n"
              "Enter the path to your demos folder...\n"
              "Please input a VALID directory to your Replays Folder\n"
              "{ (hint) Replay Folder Path... }\n"
              "[ Check ]\n");
    RunGameSide();
    EXPECT_TRUE(DemosFolder().empty());
    EXPECT_EQ(Variable(), "");
    EXPECT_THAT(host.Commands(), IsEmpty());

    // A regular file is no replays folder.
    const std::filesystem::path file = sandbox.Dir().MakeFile("Demos.replay", "bytes");
    Type(Typed(file));
    Check();
    EXPECT_THAT(Frame(), HasSubstr(kWarning));
    EXPECT_TRUE(DemosFolder().empty());
    EXPECT_THAT(host.Commands(), IsEmpty());

    // A directory: folder and variable at once, the two commands later on the game side.
    ClearEntry();
    const std::filesystem::path folder = sandbox.Dir().MakeFolder("Replays");
    Type(Typed(folder));
    Check();
    EXPECT_EQ(DemosFolder(), folder);
    EXPECT_EQ(Variable(), CodePageText(folder));
    EXPECT_THAT(host.Commands(), IsEmpty()) << "the commands are deferred through Execute";
    RunGameSide();
    EXPECT_EQ(host.Commands(), kCheckCommands);
    EXPECT_FALSE(host.Host().IsWindowOpen());

    host.OpenWindow();
    const std::string reopened = Frame();
    EXPECT_THAT(reopened, Not(HasSubstr(kWarning)));
    EXPECT_THAT(reopened, HasSubstr("{ " + Typed(folder) + " }")) << "the entry keeps the typed text";
}

TEST_F(SettingsPanelTest, TheEntryGrowsWithLongTextAndEnterStartsNoCheck)
{
    // Far longer than the entry's first buffer, yet within MAX_PATH: Windows refuses longer
    // paths to programs that do not declare long-path awareness.
    std::filesystem::path longFolder = sandbox.Home();
    for (int level = 0; level < 3; ++level)
        longFolder /= std::string(50, static_cast<char>('a' + level));
    std::filesystem::create_directories(longFolder);

    Type(Typed(longFolder));
    host.Host().QueueKey(ImGuiKey_Enter, true);
    host.Host().QueueKey(ImGuiKey_Enter, false);
    host.Host().RunFrames(3);
    RunGameSide();

    EXPECT_THAT(Frame(), HasSubstr("{ " + Typed(longFolder) + " }"));
    EXPECT_TRUE(DemosFolder().empty());
    EXPECT_THAT(host.Commands(), IsEmpty());

    Check();
    EXPECT_EQ(DemosFolder(), longFolder);
}

TEST_F(SettingsPanelTest, ANonAsciiFolderTypedAsUtf8Passes)
{
    // A name the filesystem code page can hold, for the console variable: Western or Japanese.
    std::filesystem::path name;
    for (const char8_t* candidate : {u8"R\u00E9plays \u00FCber", u8"\u30EA\u30D7\u30EC\u30A4 \u65E5\u672C"}) {
        if (FilesystemCodePageHolds(candidate)) {
            name = candidate;
            break;
        }
    }
    if (name.empty())
        GTEST_SKIP() << "the filesystem code page holds none of the folder names tried";
    const std::filesystem::path folder = sandbox.Home() / name;
    std::filesystem::create_directory(folder);

    // Typed with the platform's own separator, so the stored text reads like the folder's path.
    const std::string separator(1, static_cast<char>(std::filesystem::path::preferred_separator));
    Type(Typed(sandbox.Home()) + separator + Typed(name));
    Check();

    EXPECT_EQ(DemosFolder(), folder);
    EXPECT_EQ(Variable(), CodePageText(folder));
    RunGameSide();
    EXPECT_EQ(host.Commands(), kCheckCommands);
}

// Resolved as Windows resolves a path, so the backup folder is beside the folder typed, whatever
// the working folder becomes.
TEST_F(SettingsPanelTest, ARelativeFolderIsStoredAbsoluteAndNormalised)
{
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(sandbox.Home());
    std::filesystem::create_directory("relative replays");

    Type("./relative replays/../relative replays");
    Check();
    std::filesystem::current_path(previous);

    const std::filesystem::path expected = std::filesystem::absolute(sandbox.Home() / "relative replays");
    EXPECT_EQ(DemosFolder(), expected);
    EXPECT_EQ(Variable(), CodePageText(expected));
    EXPECT_EQ(BackupFolderBeside(DemosFolder()), sandbox.Home() / kBackupFolderName);
}

TEST_F(SettingsPanelTest, AFolderTheCodePageCannotHoldWarnsAndIsLoggedWithoutChangingAnything)
{
#if defined(_WIN32)
    // A folder that exists and arrives as UTF-8, but that the variable's code page has no room
    // for: the Western code pages lack "\u4E2D", the Japanese one lacks "\u0100".
    std::filesystem::path folder;
    for (const wchar_t* name : {L"\u0100", L"\u4E2D"}) {
        if (!FilesystemCodePageHolds(name)) {
            folder = sandbox.Home() / name;
            break;
        }
    }
    if (folder.empty())
        GTEST_SKIP() << "the filesystem code page holds every character tried";
    std::filesystem::create_directory(folder);
    const std::string typed = Typed(folder);
    const char* code = "(1113)"; // ERROR_NO_UNICODE_TRANSLATION
#else
    // Typed text is always UTF-8; a relative folder takes the bytes of the working folder's name.
    const std::filesystem::path working = sandbox.Home() / "game\xFF";
    std::filesystem::create_directories(working / "Demos");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(working);
    struct Back {
        std::filesystem::path to;
        ~Back() { std::filesystem::current_path(to); }
    } back{before};
    const std::string typed = "Demos";
    const char* code = "(84)"; // EILSEQ
#endif

    Type(typed);
    Check();

    EXPECT_THAT(Frame(), HasSubstr(kWarning));
    const std::vector<std::string> log = host.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_THAT(log[0], testing::StartsWith("Check failed: code page conversion "));
    EXPECT_THAT(log[0], testing::EndsWith(code));
    EXPECT_TRUE(DemosFolder().empty());
    EXPECT_EQ(Variable(), "");
    RunGameSide();
    EXPECT_THAT(host.Commands(), IsEmpty());
}

TEST_F(SettingsPanelTest, AFailingExistenceQueryWarnsAndIsLoggedWithoutLeavingThePanel)
{
    const std::filesystem::path loop = sandbox.Home() / "loop";
    MAKE_DIRECTORY_LINK_OR_SKIP(loop, loop);

    Type(Typed(loop / "Demos"));
    Check();

    EXPECT_THAT(Frame(), HasSubstr(kWarning));
    const std::vector<std::string> log = host.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_THAT(log[0], testing::StartsWith("Check failed: exists " + CodePageText(loop / "Demos") + ": "));
    EXPECT_TRUE(DemosFolder().empty());
    EXPECT_THAT(host.Commands(), IsEmpty());
}

} // namespace

// In a small window a long outcome wraps at the edge instead of running past it, and rows that
// arrive while the window is open make it taller, at the player's width, until every row shows.
TEST_F(SettingsPanelTest, RepairRowsWrapAtTheWindowsEdgeAndNewOnesShowWithoutScrolling)
{
    RepairHistory& repairs = host.Plugin().repairs;
    std::string outcome(221, 'x'); // a word, then one longer than the window is wide
    outcome[20] = ' ';
    repairs.Finish(repairs.Sent("LONG"), outcome);
    host.Host().RunFrames(2);
    ImGui::SetCurrentContext(host.Host().UiContext());
    ImGuiWindow* window = ImGui::FindWindowByName("Ravento");
    ASSERT_NE(window, nullptr);
    ImGui::SetWindowSize(window, ImVec2(260, 90));
    host.Host().RunFrames(2);
    EXPECT_LT(window->ContentSize.x, 2 * window->Size.x); // unwrapped, the x's alone are five times as wide

    for (const char* id : {"N1", "N2", "N3", "N4"})
        repairs.Finish(repairs.Sent(id), "refused: 10 uploads per 30 minutes; play it again later");
    repairs.Sent("NEWEST");
    host.Host().RunFrames(3);
    EXPECT_EQ(window->Size.x, 260);
    EXPECT_EQ(window->Scroll.y, 0);
    // Where the last frame's last item, the oldest row, ended: inside the window's visible part.
    EXPECT_LE(window->DC.CursorMaxPos.y, window->InnerClipRect.Max.y);
    EXPECT_THAT(Frame(), HasSubstr("[ Check ]\nRepairs this session\nNEWEST, "));
}
