// Reads an upload's body into a temporary file as it arrives: the content of the first
// multipart part named "file". Every byte that arrives counts against the cap, whether the
// body came with a length or in chunks; past the cap reading stops.
#pragma once

#include <cstddef>
#include <functional>

namespace httplib {
class ContentReader;
struct Request;
} // namespace httplib

namespace repairservice {

class TemporaryFile;

enum class UploadOutcome {
    Received, // the body was read in full; see the file's size for the part's content
    NoFilePart, // read in full, but it is no form or has no part named "file"
    TooLarge, // more than the cap arrived; the rest of the body is unread
    Unreadable, // the body ended early or its framing was broken
    StoreFailed, // the temporary file refused the bytes
};

// curl, and clients like it, give up on a refusal they have received when the connection is
// reset while they still send: a refused body up to this size is read and dropped to spare them
// that (for no longer than the watch allows, see ConnectionWatch::Refused).
inline constexpr std::size_t kDroppedAtMost = std::size_t{4} << 20;

// Reads and drops the body of an upload refused before it was read, up to kDroppedAtMost.
void DropUpload(const httplib::Request& request, const httplib::ContentReader& reader);

// Told the count of body bytes received so far, as they arrive.
using UploadProgress = std::function<void(std::size_t bytes)>;

UploadOutcome ReceiveUpload(const httplib::Request& request, const httplib::ContentReader& reader, TemporaryFile& file,
                            std::size_t maxBytes, const UploadProgress& progress);

} // namespace repairservice
