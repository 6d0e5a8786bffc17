// An HTTPS server on the loopback interface whose replies the test writes byte by byte: for
// replies no server library would send, such as a body ended by a bare TCP close, a trickle of
// two bytes a second, or no answer at all. Each connection runs on a thread of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/TempDir.h"

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;

namespace testing_support {

class ScriptedTlsServer;

class TlsConnection {
public:
    TlsConnection(ScriptedTlsServer& server, SSL* ssl) : server(server), ssl(ssl) {}

    const std::string& RequestPath() const { return path; }
    // False once the client is gone.
    bool Write(std::string_view bytes);
    // Waits; false when the server is stopping instead.
    bool Pause(std::chrono::milliseconds time);
    // The connection ends with a bare TCP close instead of a TLS close_notify.
    void CloseWithoutNotify() { notifyOnClose = false; }

private:
    friend class ScriptedTlsServer;
    bool ReadRequest();

    ScriptedTlsServer& server;
    SSL* ssl;
    std::string path;
    bool notifyOnClose = true;
};

class ScriptedTlsServer {
public:
    using Answer = std::function<void(TlsConnection&)>;

    explicit ScriptedTlsServer(Answer answer);
    ~ScriptedTlsServer(); // ends every connection's answer at its next Pause, then joins
    ScriptedTlsServer(const ScriptedTlsServer&) = delete;
    ScriptedTlsServer& operator=(const ScriptedTlsServer&) = delete;

    std::string Url(const std::string& path) const;
    // The certificate a client must trust (valid for 127.0.0.1).
    std::filesystem::path Certificate() const { return certificate; }
    // Requests read in full so far.
    int RequestCount() const { return requests.load(); }

private:
    friend class TlsConnection;
    void AcceptLoop();
    void Serve(int socket);

    Answer answer;
    TempDir tlsDir;
    std::filesystem::path certificate;
    SSL_CTX* context = nullptr;
    int listener = -1;
    int port = 0;
    std::atomic<int> requests{0};

    std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false; // guarded by mutex
    std::vector<std::thread> connections; // accept thread only, then the destructor
    std::thread acceptor;
};

} // namespace testing_support
