// The platform seam under the plugin's routines: strict code-page conversions, the existence
// query's not-found conditions, folder creation, and held files.
#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "FileSystem.h"
#include "platform/ReplayFiles.h"
#include "support/CodePageText.h"
#include "support/TempDir.h"

using namespace plugin;

namespace {

using testing_support::CodePageText;
using testing_support::PathFromCodePage;
using testing_support::PathFromTypedText;
using testing_support::TempDir;

#if !defined(_WIN32)

TEST(CodePage, Utf8StandsInOnPosixAndRejectsEveryMalformedSequence)
{
    const std::string accented = "R\xC3\xA9plays \xF0\x9F\x8E\xAE"; // "Réplays 🎮"
    EXPECT_EQ(PathFromCodePage(accented).native(), accented);
    EXPECT_EQ(CodePageText(std::filesystem::path(accented)), accented);
    EXPECT_EQ(PathFromTypedText(accented).native(), accented);
    EXPECT_TRUE(PathFromCodePage("").empty());

    for (const std::string invalid : {
             "\xFF", // never a UTF-8 byte
             "ab\xC3", // truncated
             "\xC0\xAF", // overlong "/"
             "\xE0\x80\xAF", // overlong, three bytes
             "\xED\xA0\x80", // a surrogate
             "\xF4\x90\x80\x80", // above U+10FFFF
             "\xC3\x28", // continuation byte missing
             "\xE2\x82\x28", // third byte not a continuation
             "\xF0\x9F\x8E\x28", // fourth byte not a continuation
         }) {
        EXPECT_THROW(PathFromCodePage(invalid), std::system_error) << testing::PrintToString(invalid);
        EXPECT_THROW(PathFromTypedText(invalid), std::system_error) << testing::PrintToString(invalid);
        EXPECT_THROW(CodePageText(std::filesystem::path(invalid)), std::system_error)
            << testing::PrintToString(invalid);
    }
}

#else

// Characters each ANSI code page of the Windows test runs holds, and ones it lacks.
struct AnsiSample {
    unsigned codePage;
    const wchar_t* wide;
    const char* bytes;
    const wchar_t* missing;
};
constexpr AnsiSample kAnsiSamples[] = {
    {1252, L"caf\u00E9", "caf\xE9", L"x\u4E2D"}, // "é" is 0xE9; no "中"
    {932, L"\u65E5\u672C", "\x93\xFA\x96\x7B", L"caf\u00E9"}, // "日本" in Shift JIS; no "é"
};

TEST(CodePage, AnsiConversionsAreStrictWithoutBestFitSubstitution)
{
    const AnsiSample* sample = nullptr;
    for (const AnsiSample& candidate : kAnsiSamples) {
        if (candidate.codePage == ::GetACP())
            sample = &candidate;
    }
    if (sample == nullptr || !::AreFileApisANSI())
        GTEST_SKIP() << "no sample characters for ANSI code page " << ::GetACP();

    EXPECT_EQ(PathFromCodePage(sample->bytes).native(), sample->wide);
    EXPECT_EQ(CodePageText(std::filesystem::path(sample->wide)), sample->bytes);

    // "Ā" would best-fit to "A", the others to "?": each must fail instead.
    for (const wchar_t* missing : {L"\u0100", sample->missing}) {
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

TEST(CodePage, EmptyTextAndTheEmptyPathConvertToEachOther)
{
    EXPECT_TRUE(PathFromCodePage("").empty());
    EXPECT_EQ(CodePageText(std::filesystem::path()), "");
}

TEST(Directories, TheExistenceQueryTellsDirectoriesFromOtherEntriesAndMissingOnes)
{
    TempDir dir;
    const std::filesystem::path folder = dir.MakeFolder("folder");
    const std::filesystem::path file = dir.MakeFile("file.replay", "bytes");

    auto kindOf = [](const std::filesystem::path& path) {
        platform::EntryKind kind = platform::EntryKind::Other;
        const std::error_code error = platform::ReplayFiles().QueryEntryKind(path, kind);
        EXPECT_FALSE(error) << path << ": " << error.message();
        return kind;
    };
    EXPECT_EQ(kindOf(folder), platform::EntryKind::Directory);
    EXPECT_EQ(kindOf(file), platform::EntryKind::Other);
    EXPECT_EQ(kindOf(dir.Path() / "missing"), platform::EntryKind::Missing);
    EXPECT_EQ(kindOf(dir.Path() / "missing" / "deeper"), platform::EntryKind::Missing);
    EXPECT_EQ(kindOf(file / "below a file"), platform::EntryKind::Missing)
        << "a file used as a folder is a not-found condition";
    EXPECT_EQ(kindOf(dir.Path() / "wild*card?"), platform::EntryKind::Missing)
        << "a name no file can have (Windows: an invalid name)";

    // The plugin's directory query answers the same, without an error.
    for (const std::filesystem::path& path : {folder, file, dir.Path() / "missing", std::filesystem::path()}) {
        bool isDirectory = path != folder;
        EXPECT_TRUE(!IsDirectory(path, isDirectory) && isDirectory == (path == folder)) << path;
    }
}

TEST(ReplayFiles, FolderCreationMakesExactlyOneLevelAndNamesWhatStoodInTheWay)
{
    TempDir dir;
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    const std::filesystem::path created = dir.Path() / "backup";
    EXPECT_FALSE(files.CreateFolder(created));
    EXPECT_TRUE(std::filesystem::is_directory(created));
    EXPECT_TRUE(platform::Is(files.CreateFolder(created), platform::FileError::AlreadyExists));

    const std::filesystem::path twoLevels = dir.Path() / "missing" / "backup";
    EXPECT_TRUE(platform::Is(files.CreateFolder(twoLevels), platform::FileError::PathNotFound));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "missing"));
    EXPECT_TRUE(platform::IsNameTaken(files.CreateFolder(dir.MakeFile("taken"))));
}

// A held file is refused to every other holder, in this process too, until it is released; the
// hold follows the file, not its name.
TEST(ReplayFiles, AHeldFileIsHeldOnceAndKnownByItsIdentity)
{
    TempDir dir;
    platform::ReplayFileSystem& files = platform::ReplayFiles();
    const std::filesystem::path lock = dir.Path() / "lock";
    platform::FileHandle first = 0, second = 0;
    EXPECT_TRUE(platform::Is(files.Hold(lock, false, first), platform::FileError::FileNotFound));
    ASSERT_FALSE(files.Hold(lock, true, first)) << "created when asked";
    const std::error_code busy = files.Hold(lock, true, second);
    EXPECT_TRUE(platform::Is(busy, platform::FileError::LockViolation));
    EXPECT_TRUE(platform::IsHeldElsewhere(busy, lock));
    EXPECT_TRUE(files.IsHeldFile(first, lock));
    EXPECT_TRUE(files.IsOwnFile(first));

    const std::filesystem::path renamed = dir.Path() / "renamed";
    ASSERT_FALSE(files.RenameReplacing(lock, renamed)) << "the holder may still rename what it holds";
    EXPECT_TRUE(files.IsHeldFile(first, renamed));
    dir.MakeFile("lock", "another file of the old name");
    EXPECT_FALSE(files.IsHeldFile(first, lock));
    EXPECT_TRUE(platform::Is(files.Hold(renamed, false, second), platform::FileError::LockViolation));
    files.Release(first);
    ASSERT_FALSE(files.Hold(renamed, false, second)) << "released with its handle";
    files.Release(second);
    // A folder is never held, and never waited for.
    const std::filesystem::path folder = dir.MakeFolder("folder");
    const std::error_code notAFile = files.Hold(folder, false, first);
#if defined(_WIN32)
    EXPECT_TRUE(platform::Is(notAFile, platform::FileError::AccessDenied));
#else
    EXPECT_TRUE(platform::Is(notAFile, platform::FileError::NotRegularFile));
    EXPECT_EQ(notAFile.message(), "The file cannot be accessed by the system.");
#endif
    EXPECT_FALSE(platform::IsHeldElsewhere(notAFile, folder));
}

} // namespace
