// The host's real network on Windows: WinHTTP (a system DLL), HTTPS only, with the same options
// and limits as the libcurl transport on POSIX (HttpTransportOptions): --connect-to entries,
// the certificates of --cacert as the only trusted roots, no redirects, the low-speed floor,
// the time limit and the reply cap. Requests run one after another on one worker thread, which
// calls the completions. A reply counts only when its end is announced (a length or chunks).
// Built on Windows only.
#pragma once

#include <memory>

#include "orvane/host/HttpTransportOptions.h"
#include "orvane/host/HttpTransport.h"

namespace devhost {

class ORVANE_SDK_API WinHttpTransport : public HttpTransport {
public:
    explicit WinHttpTransport(HttpTransportOptions options = {});
    ~WinHttpTransport() override; // fails what is still running or waiting with status 0
    WinHttpTransport(const WinHttpTransport&) = delete;
    WinHttpTransport& operator=(const WinHttpTransport&) = delete;

    void Send(CurlRequest request, Completion done) override;

private:
    struct Worker;
    std::unique_ptr<Worker> worker;
};

} // namespace devhost
