// A chunked reply body (RFC 9112, 7.1), decoded as its bytes arrive, for a transport that reads
// HTTP/1.1 itself. Each chunk is a hexadecimal size line, that many bytes and a line end; a
// chunk of size 0, then trailer lines up to an empty one, ends the body. A body whose end the
// connection reaches first was cut short and must not be trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace devhost {

class ReplyBody;

class ChunkedBody {
public:
    // Decodes the bytes into body. Empty while the body may go on; otherwise why it fails (a
    // size line that is no hexadecimal number, a chunk not followed by its line end, the body's
    // own cap). Bytes after the final chunk's trailer are ignored.
    std::string Feed(const char* data, std::size_t size, ReplyBody& body);
    // The final chunk and its trailer have arrived.
    bool Done() const { return state == State::kDone; }
    // The connection has ended: empty when the body had, otherwise why it is cut short.
    std::string CheckEnd() const;

private:
    enum class State { kSizeLine, kData, kDataEnd, kTrailer, kDone };

    std::string LineEnded();
    std::string SizeLineEnded();

    State state = State::kSizeLine;
    std::string line; // the size, line end or trailer line in progress
    std::uint64_t chunkSize = 0;
    std::uint64_t chunkLeft = 0;
    std::size_t trailerBytes = 0;
};

} // namespace devhost
