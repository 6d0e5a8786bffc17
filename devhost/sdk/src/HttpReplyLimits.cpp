#include "HttpReplyLimits.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

#include <fmt/format.h>

namespace devhost {
namespace {

// A body's room doubles with what arrives, up to the cap. Past a small body it leaps to the
// size the C runtime serves from fresh pages of their own, which go back whole when the body
// outgrows them; doubling through the sizes between would leave each one behind in the heap.
constexpr std::size_t kFirstBodyRoom = 64 * 1024;
constexpr std::size_t kSmallBody = std::size_t{1} << 20;
constexpr std::size_t kLargeBodyRoom = std::size_t{32} << 20;

std::string LowerCase(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string_view Trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
}

// The values of one Content-Length field ("5" or a list "5, 5"); null when one is no number.
std::optional<std::vector<std::uint64_t>> ContentLengths(std::string_view value)
{
    std::vector<std::uint64_t> lengths;
    do {
        const std::size_t comma = value.find(',');
        const std::string_view item = Trimmed(value.substr(0, comma));
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
        std::uint64_t length = 0;
        auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), length);
        if (item.empty() || error != std::errc() || end != item.data() + item.size())
            return std::nullopt;
        lengths.push_back(length);
    } while (!value.empty());
    return lengths;
}

} // namespace

// [SECTION] ReplyHead

std::string ReplyHead::Line(std::string_view line)
{
    headerBytes += line.size();
    if (headerBytes > kMaxHeaderBytes)
        return fmt::format("the reply's headers are larger than {} bytes", kMaxHeaderBytes);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (complete)
        return {}; // a chunked body's trailer
    if (!inHead) {
        // A new head: an interim 1xx one is followed by the real one.
        const std::size_t space = line.find(' ');
        if (line.rfind("HTTP/", 0) != 0 || space == std::string_view::npos
            || std::from_chars(line.data() + space + 1, line.data() + line.size(), status).ec != std::errc())
            return "the reply does not start with an HTTP status line";
        inHead = true;
        chunked = false;
        contentLength.reset();
        return {};
    }
    if (line.empty()) {
        inHead = false;
        complete = status >= 200;
        return {};
    }
    const std::size_t colon = line.find(':');
    const std::string name = LowerCase(Trimmed(line.substr(0, colon)));
    const std::string_view value = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
    if (name == "transfer-encoding")
        chunked = LowerCase(value).find("chunked") != std::string::npos;
    else if (name == "content-length")
        return NoteContentLength(value);
    return {};
}

// Lengths that differ leave the reply's end in doubt, so the client must not guess (RFC 9112, 6.3).
std::string ReplyHead::NoteContentLength(std::string_view value)
{
    auto lengths = ContentLengths(value);
    if (!lengths)
        return "the reply's Content-Length is no number";
    for (std::uint64_t length : *lengths) {
        if (contentLength && *contentLength != length)
            return "the reply's Content-Length headers disagree";
        contentLength = length;
    }
    return {};
}

std::string ReplyHead::CheckEnd(int finalStatus, std::uint64_t bodyBytes, bool framedByProtocol) const
{
    if (finalStatus == 204 || finalStatus == 304 || framedByProtocol || chunked)
        return {}; // no body at all, or one whose end its framing marks
    if (!contentLength)
        return "the reply's length was not announced; it may be cut short";
    if (bodyBytes != *contentLength)
        return fmt::format("the reply ended after {} of the {} bytes it announced", bodyBytes, *contentLength);
    return {};
}

// [SECTION] ReplyBody

std::string ReplyBody::Append(const char* data, std::size_t size)
{
    if (size > maxBytes - bytes.size())
        return fmt::format("reply larger than {} bytes", maxBytes);
    const std::size_t needed = bytes.size() + size;
    if (needed > bytes.capacity()) {
        std::size_t room = std::min(maxBytes, std::max({needed, 2 * bytes.capacity(), needed <= kSmallBody ? kFirstBodyRoom : kLargeBodyRoom}));
        if (announced && *announced >= needed && *announced <= maxBytes && needed >= *announced / 16)
            room = static_cast<std::size_t>(*announced);
        try {
            bytes.reserve(room);
        } catch (const std::exception& error) {
            return fmt::format("cannot hold a reply of {} bytes: {}", room, error.what());
        }
    }
    bytes.append(data, size);
    return {};
}

} // namespace devhost
