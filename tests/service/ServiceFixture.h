// The stand-in service in-process on a free loopback port with a fresh certificate, and the
// clients its tests need: trusting HTTPS clients, and raw connections that send exactly what a
// test says, as slowly as it says.
#pragma once

#include <sys/types.h>

#include <openssl/ssl.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <httplib.h>

#include "RepairService.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

namespace service_testing {

class RunningService {
public:
    explicit RunningService(repairservice::ServiceOptions options = {});

    httplib::Result Upload(const std::string& bytes, const std::string& partName = "file");
    std::unique_ptr<httplib::SSLClient> Client();
    int Port() const { return port; }
    void Stop() { service.Stop(); }
    // The service's log lines so far.
    std::vector<std::string> Log();

private:
    repairservice::ServiceOptions WithTestSettings(repairservice::ServiceOptions options);

    testing_support::TempDir dir;
    std::mutex logMutex;
    std::vector<std::string> log;
    repairservice::RepairService service;
    int port = 0;
};

// A multipart form body with bytes as its part "file", and its content type.
inline const std::string kBoundary = "ravento-test-boundary";
inline const std::string kFormType = "multipart/form-data; boundary=" + kBoundary;
std::string FormBody(std::string_view bytes);

// A connection to the service that speaks TLS (without checking the certificate) or plain TCP,
// from 127.0.0.1 or another loopback address (source), as a different client would.
class RawConnection {
public:
    RawConnection(int port, bool tls, const std::string& source = "127.0.0.1");
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool Connected() const { return connected; }
    // Sends all of bytes; false once the service has ended the connection.
    bool Send(std::string_view bytes);
    // True when the service ends the connection within wait; what it says before is kept.
    bool EndedByService(std::chrono::milliseconds wait);
    // What the service said while EndedByService waited.
    const std::string& Received() const { return received; }

private:
    int socket = -1;
    SSL_CTX* context = nullptr;
    SSL* tls = nullptr;
    bool connected = false;
    std::string received;
};

// Processes of the group that have not ended (zombies do not count).
std::vector<pid_t> LiveProcessesInGroup(pid_t group);
// How many descriptors of this process refer to files in folder, deleted ones included.
int OpenFilesIn(const std::filesystem::path& folder);
using testing_support::WaitUntil;

} // namespace service_testing
