#include "HttpChunks.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include <fmt/format.h>

#include "HttpReplyLimits.h"

namespace devhost {
namespace {

// A size line is a few hex digits and perhaps an extension; nothing honest comes near this.
constexpr std::size_t kMaxLineBytes = 4096;

std::string_view WithoutLineEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

} // namespace

std::string ChunkedBody::Feed(const char* data, std::size_t size, ReplyBody& body)
{
    while (size > 0 && state != State::kDone) {
        if (state == State::kData) {
            const auto taken = static_cast<std::size_t>(std::min<std::uint64_t>(chunkLeft, size));
            if (std::string why = body.Append(data, taken); !why.empty())
                return why;
            data += taken;
            size -= taken;
            chunkLeft -= taken;
            if (chunkLeft == 0)
                state = State::kDataEnd;
            continue;
        }
        const char* newline = static_cast<const char*>(std::memchr(data, '\n', size));
        const std::size_t taken = newline != nullptr ? static_cast<std::size_t>(newline - data) + 1 : size;
        line.append(data, taken);
        data += taken;
        size -= taken;
        if (line.size() > kMaxLineBytes)
            return fmt::format("a line of the reply's chunked framing is longer than {} bytes", kMaxLineBytes);
        if (newline != nullptr) {
            if (std::string why = LineEnded(); !why.empty())
                return why;
        }
    }
    return {};
}

std::string ChunkedBody::LineEnded()
{
    const std::string_view text = WithoutLineEnd(line);
    std::string why;
    if (state == State::kSizeLine) {
        why = SizeLineEnded();
    } else if (state == State::kDataEnd) {
        if (!text.empty())
            why = fmt::format("a chunk of the reply is longer than the {} bytes its size line announced", chunkSize);
        state = State::kSizeLine;
    } else if (text.empty()) {
        state = State::kDone;
    } else if ((trailerBytes += line.size()) > kMaxHeaderBytes) {
        why = fmt::format("the reply's trailer is larger than {} bytes", kMaxHeaderBytes);
    }
    line.clear();
    return why;
}

// "1a2b", perhaps with blanks and ";extension" after it, which are ignored.
std::string ChunkedBody::SizeLineEnded()
{
    std::string_view text = WithoutLineEnd(line);
    text = text.substr(0, text.find(';'));
    text = text.substr(0, text.find_last_not_of(" \t") + 1);
    std::uint64_t size = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size, 16);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return fmt::format("the reply's chunk size line \"{}\" is no hexadecimal number", WithoutLineEnd(line));
    chunkSize = chunkLeft = size;
    state = size == 0 ? State::kTrailer : State::kData;
    return {};
}

std::string ChunkedBody::CheckEnd() const
{
    switch (state) {
    case State::kDone:
        return {};
    case State::kData:
        return fmt::format("the reply ended inside a chunk: {} of its {} bytes arrived", chunkSize - chunkLeft,
                           chunkSize);
    case State::kTrailer:
        return "the reply ended inside the trailer after its final chunk";
    default:
        return "the reply's chunks ended without the final chunk of size 0";
    }
}

} // namespace devhost
