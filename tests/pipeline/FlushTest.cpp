// Bytes reach the disk before they are named: every file the seam writes or copies is flushed
// (fsync) before it is closed. A process kill cannot show a skipped flush, a power cut would; so
// this program puts its own fsync in front of the C library's and counts the calls.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>

#include "pipeline/PipelineFixture.h"
#include "platform/ReplayFiles.h"

namespace {

std::atomic<int> flushes{0};

} // namespace

// The executable's definition comes before the C library's for every caller in it, the plugin's
// seam included.
extern "C" int fsync(int fd)
{
    using Fsync = int (*)(int);
    static const auto real = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
    flushes.fetch_add(1);
    return real(fd);
}

TEST(Flush, WrittenAndCopiedFilesAreFlushedBeforeTheyAreClosed)
{
    testing_support::TempDir dir;
    platform::ReplayFileSystem& files = platform::ReplayFiles();

    platform::FileHandle handle = 0;
    ASSERT_FALSE(files.CreateNewFile(dir.Path() / "written", handle));
    ASSERT_FALSE(files.Write(handle, "bytes"));
    const int beforeClose = flushes.load();
    ASSERT_FALSE(files.Close(handle));
    EXPECT_EQ(flushes.load(), beforeClose + 1);

    const int beforeCopy = flushes.load();
    ASSERT_FALSE(files.CopyToNewFile(dir.Path() / "written", dir.Path() / "copied"));
    EXPECT_EQ(flushes.load(), beforeCopy + 1);
    EXPECT_EQ(testing_support::ReadBytes(dir.Path() / "copied"), "bytes");
}
