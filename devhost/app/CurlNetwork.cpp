// Builds with the network: the libcurl transport of pluginsdk.
#include "NetworkTransport.h"

#include "orvane/host/CurlTransport.h"

std::unique_ptr<devhost::HttpTransport> MakeNetworkTransport(const NetworkOptions& options, std::string&)
{
    devhost::HttpTransportOptions curl;
    curl.connectTo = options.connectTo;
    curl.caFile = options.caFile;
    return std::make_unique<devhost::CurlTransport>(std::move(curl));
}
