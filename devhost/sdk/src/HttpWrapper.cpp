#include "orvane/HttpWrapper.h"

#include "ConsoleOutput.h"
#include "HttpFacility.h"
#include "PluginSession.h"
#include "orvane/host/Host.h"

using namespace devhost;

// The request belongs to the plugin whose callable is running; a call from outside any callable
// (a test driving the plugin directly) belongs to the plugin the host has loaded.
void HttpWrapper::SendCurlRequest(CurlRequest request,
                                  std::function<void(int status, char* data, std::size_t size)> callback)
{
    PluginSession* session = PluginSession::Current();
    if (!session)
        session = ActivePluginSession();
    if (!session || session->IsClosed()) {
        // No host to send it: the caller still gets its one answer, a failed transfer.
        std::string nothing;
        if (callback)
            callback(0, nothing.data(), 0);
        return;
    }
    session->Services().http.Send(session, std::move(request), std::move(callback));
}
