// Files in tests: reading one whole, and directory links where the system allows them.
#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace testing_support {

// The file's bytes as they are; empty when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& file);

// Makes link a directory link to target. Returns why it could not (Windows without the
// privilege for symbolic links), or an empty text.
std::string MakeDirectoryLink(const std::filesystem::path& target, const std::filesystem::path& link);

} // namespace testing_support

// In a test body: makes the link, or skips the test on a system that cannot make one.
#define MAKE_DIRECTORY_LINK_OR_SKIP(target, link)                                                                      \
    do {                                                                                                               \
        const std::string linkFailure = testing_support::MakeDirectoryLink((target), (link));                          \
        if (!linkFailure.empty())                                                                                      \
            GTEST_SKIP() << "this system cannot make directory links: " << linkFailure;                                \
    } while (false)
