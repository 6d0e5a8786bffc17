// What a transport decides itself about a reply, whichever library carries its bytes: where the
// body ends (the announced length against the bytes received; lengths that disagree or are no
// number; interim 1xx heads skipped), how large the headers and the body may grow, and how slow
// and how long an exchange may be. libcurl enforces much of this on its own too; the Windows
// transport reads HTTP/1.1 itself and has nothing else. Both transports use these, so both
// agree on what a good reply is.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
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

// The speed floor and the time limit, as libcurl applies them: fewer bytes than the floor's
// over the whole stall time, or the time limit passed, ends the exchange. A watchdog may ask
// while a call on the exchange blocks, so every member is safe from any thread.
class ProgressWatch {
public:
    explicit ProgressWatch(const HttpTransportOptions& options);
    void Moved(std::uint64_t bytes);
    // Empty while the exchange may go on; otherwise why it must end.
    std::string Check();

private:
    using Clock = std::chrono::steady_clock;
    const long floorBytesPerSecond;
    const std::chrono::seconds stallTime;
    const std::chrono::milliseconds timeLimit;
    const Clock::time_point started = Clock::now();
    std::mutex mutex;
    Clock::time_point windowStart = started; // guarded by mutex
    std::uint64_t windowBytes = 0; // guarded by mutex
    std::uint64_t moved = 0; // guarded by mutex
};

} // namespace devhost
