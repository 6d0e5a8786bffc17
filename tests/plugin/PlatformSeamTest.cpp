// The platform seam under the plugin's routines: strict code-page conversions, the existence
// query's not-found conditions and one-level directory creation.
#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "FileSystem.h"
#include "support/TempDir.h"
#include "platform/Directories.h"

namespace {

using testing_support::TempDir;

#if !defined(_WIN32)

TEST(CodePage, Utf8StandsInOnPosixAndRejectsEveryMalformedSequence)
{
    const std::string accented = "R\xC3\xA9plays \xF0\x9F\x8E\xAE";  // "Réplays 🎮"
    EXPECT_EQ(PathFromCodePage(accented).native(), accented);
    EXPECT_EQ(CodePageText(std::filesystem::path(accented)), accented);
    EXPECT_EQ(PathFromTypedText(accented).native(), accented);
    EXPECT_TRUE(PathFromCodePage("").empty());

    for (const std::string invalid : {
             "\xFF",              // never a UTF-8 byte
             "ab\xC3",            // truncated
             "\xC0\xAF",          // overlong "/"
             "\xE0\x80\xAF",      // overlong, three bytes
             "\xED\xA0\x80",      // a surrogate
             "\xF4\x90\x80\x80",  // above U+10FFFF
             "\xC3\x28",          // continuation byte missing
         }) {
        EXPECT_THROW(PathFromCodePage(invalid), std::system_error) << testing::PrintToString(invalid);
        EXPECT_THROW(PathFromTypedText(invalid), std::system_error) << testing::PrintToString(invalid);
        EXPECT_THROW(CodePageText(std::filesystem::path(invalid)), std::system_error)
            << testing::PrintToString(invalid);
    }
}

#else

// Needs an ANSI code page of 1252 (Wine's and Western Windows' default) for its characters.
TEST(CodePage, AnsiConversionsAreStrictWithoutBestFitSubstitution)
{
    if (::GetACP() != 1252 || !::AreFileApisANSI())
        GTEST_SKIP() << "ANSI code page " << ::GetACP() << " is not 1252";

    // "é" exists in 1252 as 0xE9.
    EXPECT_EQ(PathFromCodePage("caf\xE9").native(), L"caf\u00E9");
    EXPECT_EQ(CodePageText(std::filesystem::path(L"caf\u00E9")), "caf\xE9");

    // "Ā" would best-fit to "A" and "中" to "?": both must fail instead.
    for (const wchar_t* missing : {L"\u0100", L"x\u4E2D"}) {
        try {
            const std::string text = CodePageText(std::filesystem::path(missing));
            ADD_FAILURE() << "converted to " << text;
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code().value(), ERROR_NO_UNICODE_TRANSLATION);
        }
    }

    // Typed text is UTF-8 whatever the code page is.
    EXPECT_EQ(PathFromTypedText("caf\xC3\xA9 \xE4\xB8\xAD").native(), L"caf\u00E9 \u4E2D");
    EXPECT_THROW(PathFromTypedText("\xC3"), std::system_error);
}

#endif

TEST(Directories, TheExistenceQueryTellsDirectoriesFromOtherEntriesAndMissingOnes)
{
    TempDir dir;
    const std::filesystem::path folder = dir.MakeFolder("folder");
    const std::filesystem::path file = dir.MakeFile("file.replay", "bytes");

    EXPECT_TRUE(IsDirectory(folder));
    EXPECT_TRUE(Exists(folder));
    EXPECT_FALSE(IsDirectory(file));
    EXPECT_TRUE(Exists(file));
    EXPECT_FALSE(Exists(dir.Path() / "missing"));
    EXPECT_FALSE(Exists(dir.Path() / "missing" / "deeper"));
    EXPECT_FALSE(Exists(file / "below a file")) << "a file used as a folder is a not-found condition";
    EXPECT_FALSE(Exists(std::filesystem::path()));
}

TEST(Directories, CreationMakesExactlyOneLevelAndReportsWhatStoodInTheWay)
{
    TempDir dir;
    const std::filesystem::path created = dir.Path() / "backup";
    EXPECT_FALSE(platform::CreateOneDirectory(created));
    EXPECT_TRUE(std::filesystem::is_directory(created));
    EXPECT_FALSE(platform::CreateOneDirectory(created)) << "an existing directory counts as success";

    const std::filesystem::path twoLevels = dir.Path() / "missing" / "backup";
    EXPECT_TRUE(platform::CreateOneDirectory(twoLevels)) << "a missing parent is not created";
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "missing"));

    const std::filesystem::path file = dir.MakeFile("taken");
    const std::error_code error = platform::CreateOneDirectory(file);
    EXPECT_TRUE(error == std::errc::file_exists || error.value() == 183) << error.message();
}

} // namespace
