// The stand-in repair service: HTTPS on the loopback interface, one endpoint.
//
//   POST /api/ravento, multipart part "file"  -> 200 with the repaired bytes
//   part missing or empty, or unrepairable   -> 400
//   more than uploadLimit uploads from one client address within uploadWindow -> 429
//   more than maxUploadBytes announced or received, however the body is framed -> 413
//   too many requests in progress, in all or from the client's address -> 503
//
// A 429 is answered once what of the body arrives within the body grace (at most 4 MiB) is read
// and dropped, a 413 without reading further; either closes the connection, and neither holds a
// slot for requests in progress.
//   repair command failed, outlived repairTimeout or wrote more than maxRepairedBytes -> 500
//   other methods on the endpoint -> 405, other paths -> 404
//
// An upload goes to a temporary file as it arrives, the repair command reads it from there and
// writes into another, and the answer is sent from that file: no upload is held in memory
// beyond its first bytesInMemory.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "RateLimiter.h"
#include "RepairCommand.h"
#include "SelfSignedCertificate.h"

namespace httplib {
class ContentReader;
struct Request;
struct Response;
} // namespace httplib

namespace repairservice {

class ConnectionWatch;
class ServiceServer;

// Every setting with its default; the service program's options and --help read them here.
struct ServiceOptions {
    TlsFiles tls;
    // Every upload counts, malformed or too large ones too; only refusals for the limit do not.
    std::size_t uploadLimit = 10;
    std::chrono::seconds uploadWindow{30 * 60};
    std::size_t maxUploadBytes = std::size_t{256} << 20;
    std::string repairCommand; // empty: uploads come back unchanged
    std::chrono::seconds repairTimeout{120};
    std::size_t maxRepairedBytes = 0; // a repair command's output; 0: maxUploadBytes
    std::filesystem::path temporaryFolder; // for uploads and repairs; empty: the system's
    // An upload or repaired replay is held in memory up to this size, in temporaryFolder beyond.
    std::size_t bytesInMemory = std::size_t{256} << 10;

    // Connections. Each one holds a worker thread while it is open, so the limits below are what
    // keeps slow, idle or greedy clients from starving honest ones (see ConnectionWatch.h).
    std::size_t workerThreads = 64;
    std::chrono::seconds readTimeout{5}; // for each read or write, and for the TLS handshake
    // From connecting, or from the last answer, to a whole request header.
    std::chrono::seconds requestTimeout{10};
    // From a request's header to when its body's rate counts and its pace is judged.
    std::chrono::milliseconds bodyGrace{1000};
    std::size_t minBodyBytesPerSecond = 8 * 1024; // a body's average after the grace; 0: none
    std::size_t connectionsPerAddress = 32; // half the workers: one client cannot take them all
    // Requests from their header to their answer: bodies that keep just above the minimum rate
    // take minutes, and a few addresses must not take every worker with them. Beyond the
    // address's bound a request is answered 503 at once; beyond the overall one it takes the slot
    // of a body that at its pace so far would need more than slowBody to finish, or is answered
    // 503 when there is none.
    std::size_t requestsInProgress = 56; // 8 workers stay for handshakes and new clients
    std::size_t requestsInProgressPerAddress = 16;
    std::chrono::seconds slowBody{30};
    std::size_t requestsPerConnection = 100;
    std::chrono::seconds keepAliveTimeout{2};

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
    // Signal handling is the caller's: a client that hangs up mid-answer raises SIGPIPE.
    int Start(int port);
    // Kills running repair commands, cuts open connections, and waits for the background thread.
    // Safe to call twice.
    void Stop();

private:
    void LimitConnections();
    void AddRoutes();
    // Answers for failures and early refusals, and the log.
    void AddHooks();
    void HandleUpload(const httplib::Request& request, httplib::Response& response,
                      const httplib::ContentReader& reader);
    bool DeclaresTooLarge(const httplib::Request& request) const;
    std::size_t BodyBytesToExpect(const httplib::Request& request) const;
    std::string TooLargeText() const;
    void LogRequest(const httplib::Request& request, const httplib::Response& response) const;

    ServiceOptions options;
    RateLimiter rateLimiter;
    RepairRunner repairRunner;
    std::unique_ptr<ServiceServer> server;
    // Goes before the server, whose TLS context it hooks into, and after Stop ended every connection.
    std::unique_ptr<ConnectionWatch> watch;
    std::thread serving;
    std::atomic<bool> servingEnded{false};
    std::atomic<std::size_t> waitingConnections{0}; // accepted, but no worker free yet
};

} // namespace repairservice
