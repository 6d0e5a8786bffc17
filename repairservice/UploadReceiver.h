// Reads an upload's body into a temporary file as it arrives: the content of the first
// multipart part named "file". Every byte that arrives counts against the cap, whether the
// body came with a length or in chunks. Past the cap nothing more is kept, and reading stops
// once kDrainedPastCap more bytes have been dropped.
#pragma once

#include <cstddef>
#include <functional>

namespace httplib {
class ContentReader;
struct Request;
} // namespace httplib

namespace repairservice {

class TemporaryFile;

// A client that sends its whole body before it reads the answer sees a reset connection, not
// its 413, when the body is left unread; this much is read and dropped to spare it that.
inline constexpr std::size_t kDrainedPastCap = std::size_t{4} << 20;

enum class UploadOutcome {
    Received, // the body was read in full; see the file's size for the part's content
    NoFilePart, // read in full, but it is no form or has no part named "file"
    TooLarge, // more than the cap arrived; the body may be partly unread
    Unreadable, // the body ended early or its framing was broken
    StoreFailed, // the temporary file refused the bytes
};

// Told the count of body bytes received so far, as they arrive.
using UploadProgress = std::function<void(std::size_t bytes)>;

// Reads and drops the body of an upload refused before it was read, up to kDrainedPastCap.
void DropUpload(const httplib::Request& request, const httplib::ContentReader& reader,
                const UploadProgress& progress);

UploadOutcome ReceiveUpload(const httplib::Request& request, const httplib::ContentReader& reader, TemporaryFile& file,
                            std::size_t maxBytes, const UploadProgress& progress);

} // namespace repairservice
