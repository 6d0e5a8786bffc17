// How the Documents folder is found on desktop Linux: the XDG user directories first, then
// $HOME/Documents.
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/DocumentsFolder.h"
#include "support/DocumentsSandbox.h"

namespace {

using testing_support::DocumentsSandbox;

std::filesystem::path Documents()
{
    std::filesystem::path folder;
    const std::error_code error = platform::DocumentsFolder(folder);
    EXPECT_FALSE(error) << error.message();
    return folder;
}

TEST(PosixDocumentsFolder, FollowsTheUserDirectoriesAndFallsBackToHomeDocuments)
{
    DocumentsSandbox sandbox;
    EXPECT_EQ(Documents(), sandbox.Home() / "Documents") << "no user-dirs.dirs at all";

    sandbox.Dir().MakeFile(".config/user-dirs.dirs",
                           "# written by xdg-user-dirs-update\n"
                           "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                           "XDG_DOCUMENTS_DIR=\"$HOME/Mes Documents\"\n");
    EXPECT_EQ(Documents(), sandbox.Home() / "Mes Documents");

    const std::filesystem::path configHome = sandbox.Dir().MakeFolder("elsewhere");
    sandbox.Dir().MakeFile("elsewhere/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n");
    ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    EXPECT_EQ(Documents(), std::filesystem::path("/srv/docs"));

    // $HOME alone means the user turned the folder off; a relative value is not valid.
    sandbox.Dir().MakeFile("elsewhere/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/\"\nXDG_DOCUMENTS_DIR=\"docs\"\n");
    EXPECT_EQ(Documents(), sandbox.Home() / "Documents");
}

TEST(PosixDocumentsFolder, OnlyAWellFormedDocumentsLineCounts)
{
    DocumentsSandbox sandbox;
    const std::filesystem::path fallback = sandbox.Home() / "Documents";
    struct Case {
        const char* line;
        std::filesystem::path documents;
    };
    const Case cases[] = {
        {"", fallback},
        {" \t", fallback},
        {"XDG_DOCUMENTS_DIR=", fallback},
        {"XDG_DOCUMENTS_DIR=\"", fallback},
        {"XDG_DOCUMENTS_DIR=$HOME/Papers", fallback},
        {"XDG_DOCUMENTS_DIR=\"$HOME/Papers", fallback},
        {"XDG_DOCUMENTS_DIR=Papers\"", fallback},
        {"XDG_DOCUMENTS_DIR=\"/\"", fallback},
        {"XDG_DOCUMENTS_DIR=\"$HOME\"", fallback},
        // Indented, with escapes; a backslash just before the closing quote escapes nothing.
        {"\t XDG_DOCUMENTS_DIR=\"$HOME/Pa\\\"pers\\\\\"", sandbox.Home() / "Pa\"pers\\"},
        {"XDG_DOCUMENTS_DIR=\"/srv/a\\\"", "/srv/a\\"},
    };
    for (const Case& check : cases) {
        sandbox.Dir().MakeFile(".config/user-dirs.dirs", std::string(check.line) + "\n");
        EXPECT_EQ(Documents(), check.documents) << check.line;
    }
}

TEST(PosixDocumentsFolder, FailsWithoutHomeOrUserDirectories)
{
    DocumentsSandbox sandbox(DocumentsSandbox::Documents::Unavailable);
    std::filesystem::path folder;
    EXPECT_EQ(platform::DocumentsFolder(folder), std::errc::no_such_file_or_directory);
    EXPECT_TRUE(folder.empty());

    // Without a home, a value under $HOME means nothing; an absolute one still counts.
    const std::filesystem::path configHome = sandbox.Dir().MakeFolder("config");
    ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    sandbox.Dir().MakeFile("config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
    EXPECT_EQ(platform::DocumentsFolder(folder), std::errc::no_such_file_or_directory);
    sandbox.Dir().MakeFile("config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\nXDG_DOCUMENTS_DIR=\"/srv/d\"\n");
    EXPECT_FALSE(platform::DocumentsFolder(folder));
    EXPECT_EQ(folder, std::filesystem::path("/srv/d"));
}

} // namespace
