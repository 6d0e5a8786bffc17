#include "TempDir.h"

#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

namespace testing_support {

TempDir::TempDir(const std::filesystem::path& base)
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = base / ("ravento-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            root = candidate;
            return;
        }
    }
    throw std::runtime_error("could not create a temporary directory");
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

std::filesystem::path TempDir::MakeFolder(const std::filesystem::path& relative) const
{
    std::filesystem::path folder = root / relative;
    std::filesystem::create_directories(folder);
    return folder;
}

std::filesystem::path TempDir::MakeFile(const std::filesystem::path& relative, std::string_view content) const
{
    std::filesystem::path file = root / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("could not write " + file.string());
    return file;
}

} // namespace testing_support
