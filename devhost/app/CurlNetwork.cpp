// Builds with the network: the libcurl transport of pluginsdk.
#include "NetworkTransport.h"

#include "orvane/host/CurlTransport.h"

std::unique_ptr<orvane::host::HttpTransport> MakeNetworkTransport(const NetworkOptions& options, std::string&)
{
    orvane::host::CurlTransportOptions curl;
    curl.connectTo = options.connectTo;
    curl.caFile = options.caFile;
    return std::make_unique<orvane::host::CurlTransport>(std::move(curl));
}
