// What the transport decides about a reply beyond what libcurl 7.88 checks itself: where the
// body ends (libcurl takes a body cut short by a closed connection when no length was
// announced, and the last of two Content-Length headers that disagree), how large all the heads
// together may grow (libcurl bounds one header line, not their sum) and how the body's memory
// grows up to its cap (libcurl's own size cap trusts only an announced length).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "orvane/host/HttpTransportOptions.h"

namespace devhost {

// The head of the reply in progress, fed its lines as they arrive.
class ReplyHead {
public:
    // One line of the head (status line, field or the empty line that ends it), with or without
    // its line ending. Empty while the reply may go on; otherwise why it fails.
    std::string Line(std::string_view line);
    // The final head has ended: not an interim (1xx) one.
    bool Complete() const { return complete; }
    int Status() const { return status; }
    std::optional<std::uint64_t> ContentLength() const { return contentLength; }
    bool Chunked() const { return chunked; }
    // Once the body is in: empty when its end was announced (by a length it matches, by chunks,
    // or, when framedByProtocol, by HTTP/2's own framing); otherwise why it cannot be trusted.
    std::string CheckEnd(int status, std::uint64_t bodyBytes, bool framedByProtocol = false) const;

private:
    std::string NoteContentLength(std::string_view value);

    std::size_t headerBytes = 0; // every head's, interim ones included
    bool inHead = false;
    bool complete = false;
    int status = 0;
    bool chunked = false;
    std::optional<std::uint64_t> contentLength;
};

// The reply's body. Its memory grows with what arrives, never with what a head announces.
class ReplyBody {
public:
    explicit ReplyBody(std::size_t maxBytes) : maxBytes(maxBytes) {}
    // The length the head announced, if any. Room for all of it is made only once a sixteenth
    // has arrived: a whole body then costs its own size, not the doubling growth's (up to twice
    // as much), and a head that announces much and sends little costs nothing.
    void Announce(std::optional<std::uint64_t> length) { announced = length; }
    // Empty when the bytes were added; otherwise why the reply fails (the cap, no memory).
    std::string Append(const char* data, std::size_t size);
    std::uint64_t Size() const { return bytes.size(); }
    std::string Take() { return std::move(bytes); }

private:
    std::size_t maxBytes;
    std::optional<std::uint64_t> announced;
    std::string bytes;
};

} // namespace devhost
