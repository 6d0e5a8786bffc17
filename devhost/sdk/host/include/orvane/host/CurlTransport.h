// The host's real network: libcurl, HTTPS only, with certificate verification always on.
// Several requests run at once on one worker thread (curl multi); each completion is called
// on that thread. Form parts of kind FormField::kFile stream from disk while they upload.
// Built on POSIX only (the Windows build has no libcurl).
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "orvane/host/HttpTransport.h"

namespace devhost {

struct CurlTransportOptions {
    // curl's CONNECT_TO entries, "HOST:PORT:ADDR:PORT": send a URL's host and port elsewhere
    // while the certificate is still checked against the URL's host name.
    std::vector<std::string> connectTo;
    // curl's CAINFO: the certificates to trust instead of the system's.
    std::filesystem::path caFile;
    // A longer reply fails the transfer (status 0).
    std::size_t maxReplyBytes = std::size_t{256} << 20;
};

class ORVANE_SDK_API CurlTransport : public HttpTransport {
public:
    explicit CurlTransport(CurlTransportOptions options = {});
    ~CurlTransport() override;  // fails what is still running with status 0
    CurlTransport(const CurlTransport&) = delete;
    CurlTransport& operator=(const CurlTransport&) = delete;

    void Send(CurlRequest request, Completion done) override;

private:
    struct Worker;
    std::unique_ptr<Worker> worker;
};

} // namespace devhost
