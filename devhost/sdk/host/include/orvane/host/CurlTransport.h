// The host's real network: libcurl, HTTPS only, with certificate verification always on.
// Several requests run at once on one worker thread (curl multi); each completion is called
// on that thread. Form parts of kind FormField::kFile stream from disk while they upload; only
// regular files are sent. A reply counts only when its end is announced (a length, chunks or
// HTTP/2 framing): a body that ends where the connection happens to close may be cut short.
// Built on POSIX only (the Windows build has no libcurl).
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "orvane/host/HttpTransport.h"

namespace devhost {

// No request stays outstanding without bound: one that moves fewer bytes per second than the
// floor for the whole stall time fails, and so does one that runs past the time limit in all
// (long enough for a 256 MiB upload at about 300 KB/s).
inline constexpr long kLowSpeedBytesPerSecond = 1024;
inline constexpr std::chrono::seconds kLowSpeedTime{30};
inline constexpr std::chrono::milliseconds kRequestTimeLimit = std::chrono::minutes(15);

struct CurlTransportOptions {
    // curl's CONNECT_TO entries, "HOST:PORT:ADDR:PORT": send a URL's host and port elsewhere
    // while the certificate is still checked against the URL's host name.
    std::vector<std::string> connectTo;
    // curl's CAINFO: the certificates to trust instead of the system's.
    std::filesystem::path caFile;
    // A longer reply fails the transfer (status 0).
    std::size_t maxReplyBytes = std::size_t{256} << 20;
    long lowSpeedBytesPerSecond = kLowSpeedBytesPerSecond;
    std::chrono::seconds lowSpeedTime = kLowSpeedTime;
    std::chrono::milliseconds timeLimit = kRequestTimeLimit;
};

class ORVANE_SDK_API CurlTransport : public HttpTransport {
public:
    explicit CurlTransport(CurlTransportOptions options = {});
    ~CurlTransport() override; // fails what is still running with status 0
    CurlTransport(const CurlTransport&) = delete;
    CurlTransport& operator=(const CurlTransport&) = delete;

    void Send(CurlRequest request, Completion done) override;

private:
    struct Worker;
    std::unique_ptr<Worker> worker;
};

} // namespace devhost
