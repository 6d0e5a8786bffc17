// The host's real network: libcurl, HTTPS only, with certificate verification always on.
// Several requests run at once on one worker thread (curl multi); each completion is called
// on that thread. Form parts of kind FormField::kFile stream from disk while they upload; only
// regular files are sent. A reply counts only when its end is announced (a length, chunks or
// HTTP/2 framing): a body that ends where the connection happens to close may be cut short.
// The same code on both halves: Debian's libcurl (OpenSSL) natively, Debian's curl source built
// for mingw-w64 (Schannel) on Windows.
#pragma once

#include <memory>

#include "orvane/host/HttpTransport.h"
#include "orvane/host/HttpTransportOptions.h"

namespace devhost {

class ORVANE_SDK_API CurlTransport : public HttpTransport {
public:
    explicit CurlTransport(HttpTransportOptions options = {});
    ~CurlTransport() override; // fails what is still running with status 0
    CurlTransport(const CurlTransport&) = delete;
    CurlTransport& operator=(const CurlTransport&) = delete;

    void Send(CurlRequest request, Completion done) override;

private:
    struct Worker;
    std::unique_ptr<Worker> worker;
};

} // namespace devhost
