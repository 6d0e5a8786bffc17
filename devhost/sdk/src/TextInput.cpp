#include "orvane/host/TextInput.h"

#include <algorithm>

#include <fmt/format.h>

#include "UploadFile.h"

namespace devhost {
namespace {

constexpr std::size_t kBlock = 64 * 1024;

// Takes the input a block at a time and stops at the first limit it passes.
class BoundedText {
public:
    BoundedText(const std::string& name, const TextLimits& limits) : name(name), limits(limits) {}

    // False, with error set, once a limit is passed.
    bool Add(const char* data, std::size_t size, std::string& error)
    {
        if (text.size() + size > limits.maxBytes) {
            error = fmt::format("{} is larger than {} bytes", name, limits.maxBytes);
            return false;
        }
        for (const char* at = data; at != data + size; ++at) {
            if (*at == '\n') {
                ++line;
                lineBytes = 0;
            } else if (*at != '\r' && ++lineBytes > limits.maxLineBytes) {
                error = fmt::format("{}:{}: line longer than {} bytes", name, line, limits.maxLineBytes);
                return false;
            }
        }
        text.append(data, size);
        return true;
    }

    std::string Take() { return std::move(text); }

private:
    const std::string& name;
    const TextLimits& limits;
    std::string text;
    std::size_t line = 1;
    std::size_t lineBytes = 0;
};

} // namespace

std::optional<std::string> ReadTextFile(const std::filesystem::path& file, const TextLimits& limits,
                                        std::string& error)
{
    const std::string name = file.string();
    std::unique_ptr<UploadFile> opened = UploadFile::Open(name, error);
    if (!opened)
        return std::nullopt;
    if (opened->Size() > limits.maxBytes) {
        error = fmt::format("{} is larger than {} bytes", name, limits.maxBytes);
        return std::nullopt;
    }
    BoundedText text(name, limits);
    char block[kBlock];
    for (;;) {
        std::ptrdiff_t got = opened->Read(block, sizeof block);
        if (got < 0) {
            error = fmt::format("cannot read {}", name);
            return std::nullopt;
        }
        if (got == 0)
            return text.Take();
        if (!text.Add(block, static_cast<std::size_t>(got), error))
            return std::nullopt; // it grew while it was read
    }
}

std::optional<std::string> ReadTextStream(std::istream& stream, const std::string& name, const TextLimits& limits,
                                          std::string& error)
{
    BoundedText text(name, limits);
    char block[kBlock];
    while (stream) {
        stream.read(block, sizeof block);
        if (!text.Add(block, static_cast<std::size_t>(stream.gcount()), error))
            return std::nullopt;
    }
    if (stream.bad()) {
        error = fmt::format("cannot read {}", name);
        return std::nullopt;
    }
    return text.Take();
}

} // namespace devhost
