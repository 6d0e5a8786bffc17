// Windows builds: pluginsdk's WinHTTP transport, with the same options as libcurl's on POSIX.
#include "NetworkTransport.h"

#include "orvane/host/WinHttpTransport.h"

std::unique_ptr<devhost::HttpTransport> MakeNetworkTransport(const NetworkOptions& options, std::string&)
{
    devhost::HttpTransportOptions winHttp;
    winHttp.connectTo = options.connectTo;
    winHttp.caFile = options.caFile;
    return std::make_unique<devhost::WinHttpTransport>(std::move(winHttp));
}
