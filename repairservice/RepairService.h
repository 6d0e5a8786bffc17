// The stand-in repair service: HTTPS on the loopback interface, one endpoint.
//
//   POST /api/ravento, multipart part "file"  -> 200 with the repaired bytes
//   part missing or empty, or unrepairable   -> 400
//   more than uploadLimit uploads from one client address within uploadWindow -> 429
//   request body over maxUploadBytes         -> 413
//   other methods on the endpoint -> 405, other paths -> 404
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "RateLimiter.h"
#include "SelfSignedCertificate.h"

namespace httplib {
class SSLServer;
struct Request;
struct Response;
}

namespace repairservice {

struct ServiceOptions {
    TlsFiles tls;
    std::size_t uploadLimit = 10;
    std::chrono::seconds uploadWindow{30 * 60};
    std::size_t maxUploadBytes = std::size_t{256} << 20;
    std::string repairCommand;  // empty: uploads come back unchanged
    // One line per answered request; none when empty.
    std::function<void(const std::string&)> requestLog;
};

class RepairService {
public:
    explicit RepairService(ServiceOptions options);
    ~RepairService();
    RepairService(const RepairService&) = delete;
    RepairService& operator=(const RepairService&) = delete;

    // Binds 127.0.0.1:port (0 picks a free port), serves on a background thread and returns
    // the bound port. Throws std::runtime_error when the TLS files or the port are unusable.
    int Start(int port);
    // Stops serving and waits for the background thread. Safe to call twice.
    void Stop();

private:
    void AddRoutes();
    void HandleUpload(const httplib::Request& request, httplib::Response& response);
    void LogRequest(const httplib::Request& request, const httplib::Response& response) const;

    ServiceOptions options;
    RateLimiter rateLimiter;
    std::unique_ptr<httplib::SSLServer> server;
    std::thread serving;
    std::atomic<bool> servingEnded{false};
};

} // namespace repairservice
