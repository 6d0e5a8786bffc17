// POSIX builds without the network (RAVENTO_NETWORK=OFF): pluginsdk has no libcurl transport.
#include "NetworkTransport.h"

std::unique_ptr<devhost::HttpTransport> MakeNetworkTransport(const NetworkOptions& options, std::string& error)
{
    if (!options.connectTo.empty() || !options.caFile.empty())
        error = "--connect-to and --cacert need the libcurl transport, which this build does not have";
    return nullptr;
}
