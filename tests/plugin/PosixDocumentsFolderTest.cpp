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

TEST(PosixDocumentsFolder, FailsWithoutHomeOrUserDirectories)
{
    DocumentsSandbox sandbox(DocumentsSandbox::Documents::Unavailable);
    std::filesystem::path folder;
    EXPECT_EQ(platform::DocumentsFolder(folder), std::errc::no_such_file_or_directory);
    EXPECT_TRUE(folder.empty());
}

} // namespace
