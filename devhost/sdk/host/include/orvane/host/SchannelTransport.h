// The host's real network on Windows: HTTP/1.1 read and written by the transport itself over
// Winsock and Schannel (system DLLs), HTTPS only, with the same options and limits as the
// libcurl transport on POSIX (HttpTransportOptions): --connect-to entries, the certificates of
// --cacert as the only trusted roots, no redirects, the low-speed floor, the time limit and the
// reply cap. Requests run one after another on one worker thread, which calls the completions.
// A reply counts only when its end is announced (a length or chunks ending in the final one).
// Built on Windows only.
#pragma once

#include <memory>

#include "orvane/host/HttpTransportOptions.h"
#include "orvane/host/HttpTransport.h"

namespace devhost {

class ORVANE_SDK_API SchannelTransport : public HttpTransport {
public:
    explicit SchannelTransport(HttpTransportOptions options = {});
    ~SchannelTransport() override; // fails what is still running or waiting with status 0
    SchannelTransport(const SchannelTransport&) = delete;
    SchannelTransport& operator=(const SchannelTransport&) = delete;

    void Send(CurlRequest request, Completion done) override;

private:
    struct Worker;
    std::unique_ptr<Worker> worker;
};

} // namespace devhost
