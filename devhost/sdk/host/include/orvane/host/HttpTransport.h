// How the host's HTTP facility reaches the network. The host owns one transport.
#pragma once

#include <functional>
#include <string>

#include "orvane/HttpWrapper.h"
#include "orvane/SdkApi.h"

namespace devhost {

class ORVANE_SDK_API HttpTransport {
public:
    // status 0 means the transfer failed; reason then says why (shown on the host's stderr).
    using Completion = std::function<void(int status, std::string body, std::string reason)>;

    virtual ~HttpTransport();

    // Starts the request and returns; calls done exactly once, from any thread, even when the
    // transport is destroyed first (then with status 0).
    virtual void Send(CurlRequest request, Completion done) = 0;
};

} // namespace devhost
