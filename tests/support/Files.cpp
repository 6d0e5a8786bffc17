#include "support/Files.h"

#include <fstream>
#include <iterator>

namespace testing_support {

std::string ReadWholeFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string MakeDirectoryLink(const std::filesystem::path& target, const std::filesystem::path& link)
{
    std::error_code error;
    std::filesystem::create_directory_symlink(target, link, error);
    return error ? error.message() : std::string();
}

} // namespace testing_support
