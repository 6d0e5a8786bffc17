// What the libcurl transport is told: where to connect, whom to trust, and the bounds no reply
// may pass.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace devhost {

// No request stays outstanding without bound: one that moves fewer bytes per second than the
// floor for the whole stall time fails, and so does one that runs past the time limit in all
// (long enough for a 256 MiB upload at about 300 KB/s). Headers count as much as bodies.
inline constexpr long kLowSpeedBytesPerSecond = 1024;
inline constexpr std::chrono::seconds kLowSpeedTime{30};
inline constexpr std::chrono::milliseconds kRequestTimeLimit = std::chrono::minutes(15);
// The reply's headers in all, interim replies included (libcurl 7.88 bounds each line alone).
inline constexpr std::size_t kMaxHeaderBytes = 300 * 1024;

struct HttpTransportOptions {
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

} // namespace devhost
