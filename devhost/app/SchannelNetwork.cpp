// Windows builds: pluginsdk's Schannel transport, with the same options as libcurl's on POSIX.
#include "NetworkTransport.h"

#include "orvane/host/SchannelTransport.h"

std::unique_ptr<devhost::HttpTransport> MakeNetworkTransport(const NetworkOptions& options, std::string&)
{
    devhost::HttpTransportOptions network;
    network.connectTo = options.connectTo;
    network.caFile = options.caFile;
    return std::make_unique<devhost::SchannelTransport>(std::move(network));
}
