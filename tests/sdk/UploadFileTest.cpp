// The transport's upload files on this platform: a regular file reads back in full and from
// any offset; a directory, a device or a missing name is refused with a reason.
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "UploadFile.h"
#include "support/TempDir.h"

using devhost::UploadFile;
using testing::HasSubstr;
using testing_support::TempDir;

namespace {

std::string ReadAll(UploadFile& file)
{
    std::string bytes;
    char buffer[7]; // small, so reads end mid-file
    for (std::ptrdiff_t got = 0; (got = file.Read(buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(got));
    return bytes;
}

#if defined(_WIN32)
constexpr char kDevice[] = "NUL";
#else
constexpr char kDevice[] = "/dev/null";
#endif

} // namespace

TEST(UploadFileTest, ARegularFileReadsBackFromAnyOffsetAndNothingElseOpens)
{
    TempDir dir;
    const std::string content("replay\r\n\0bytes of some length", 29);
    std::string error;
    std::unique_ptr<UploadFile> file = UploadFile::Open(dir.MakeFile("R.replay", content).string(), error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(file->Size(), content.size());
    EXPECT_EQ(ReadAll(*file), content);
    ASSERT_TRUE(file->Seek(9));
    EXPECT_EQ(ReadAll(*file), content.substr(9));

    const std::string folder = dir.MakeFolder("D.replay").string();
    const std::string missing = (dir.Path() / "missing.replay").string();
    for (const std::string& path : {folder, std::string(kDevice), missing}) {
        error.clear();
        EXPECT_FALSE(UploadFile::Open(path, error)) << path;
        EXPECT_THAT(error, HasSubstr(path));
    }
    error.clear();
    UploadFile::Open(kDevice, error);
    EXPECT_THAT(error, HasSubstr("is not a regular file"));
}
