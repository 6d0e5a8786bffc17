// The request as the Windows transport puts it on the wire: where it goes (the URL, changed by a
// --connect-to entry) and its bytes (an HTTP/1.1 head, then the body's pieces, files streamed
// from disk as they are sent).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvane/HttpWrapper.h"
#include "orvane/host/HttpTransportOptions.h"

#include "../UploadFile.h"

namespace devhost {

// The URL's host (for the certificate, SNI and the Host header) and the address actually
// connected to.
struct Target {
    std::string host;
    std::uint16_t port = 443;
    std::string pathAndQuery;
    std::string connectHost;
    std::uint16_t connectPort = 443;
};

// Null, with error set, for a URL that is not https or cannot be read.
std::optional<Target> TargetOf(const std::string& url, const HttpTransportOptions& options, std::string& error);

// The request's body: text pieces and files, sent in order.
struct RequestBody {
    struct Piece {
        std::string text;
        std::unique_ptr<UploadFile> file; // sent instead of text when set
    };
    std::string boundary = "----devhost-form-boundary-7f3c9a1e5d2b";
    std::vector<Piece> pieces;

    std::uint64_t Size() const;
};

// The request's form fields as multipart/form-data, or its plain body. Returns why the body
// cannot be built (a file that cannot be opened), else empty.
std::string BuildBody(RequestBody& body, const CurlRequest& request);

// The request line and headers, up to the empty line.
std::string RequestHead(const CurlRequest& request, const Target& target, const RequestBody& body);

} // namespace devhost
