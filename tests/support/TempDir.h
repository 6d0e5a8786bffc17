// A fresh, empty directory under the system's temporary folder, removed with everything in
// it when the object goes.
#pragma once

#include <filesystem>
#include <string_view>

namespace testing_support {

class TempDir {
public:
    TempDir() : TempDir(std::filesystem::temp_directory_path()) {}
    // Under base instead, for a folder on a chosen file system.
    explicit TempDir(const std::filesystem::path& base);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return root; }

    // Creates the folder (and its parents) below the root and returns its full path.
    std::filesystem::path MakeFolder(const std::filesystem::path& relative) const;
    // Writes a file below the root, creating its parent folders, and returns its full path.
    std::filesystem::path MakeFile(const std::filesystem::path& relative, std::string_view content = {}) const;

private:
    std::filesystem::path root;
};

} // namespace testing_support
