// The server's live TLS connections, each with the time by which its next request must have
// arrived in full. A connection that misses it (a client trickling a header, or idling after
// the handshake) is cut, and stopping the service cuts them all instead of waiting for them.
//
// The library hands out no sockets, so the watch follows the TLS objects: a connection is
// known from its handshake's start (SSL info callback) until its TLS object is freed, which the
// library does before it closes the socket.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace repairservice {

class ConnectionWatch {
public:
    using Clock = std::chrono::steady_clock;

    // Watches every connection made with context from now on. The context must outlive it.
    ConnectionWatch(SSL_CTX* context, std::chrono::seconds requestTimeout);
    ~ConnectionWatch();
    ConnectionWatch(const ConnectionWatch&) = delete;
    ConnectionWatch& operator=(const ConnectionWatch&) = delete;

    // The request header on connection has arrived; its body and answer may take their time.
    void RequestArrived(const SSL* connection);
    // The answer on connection is sent; the next request must arrive within the timeout.
    void AnswerSent(const SSL* connection);
    // Cuts the connection now: the library's next read or write on it fails.
    void Cut(const SSL* connection);
    // Cuts every connection, now and from now on.
    void CutAll();
    // The connection this thread serves: the library leaves a request's TLS object unset when
    // it could not read the request line, and still answers it.
    static const SSL* ServedOnThisThread();

private:
    struct Connection {
        int socket;
        Clock::time_point deadline;
    };

    // Process-wide slots: a connection's holds its watch, a context's the watch that follows it.
    static int ConnectionSlot();
    static int ContextSlot();
    static void OnInfo(const SSL* connection, int where, int value);
    static void OnFree(void* connection, void* watch, CRYPTO_EX_DATA*, int, long, void*);
    void Track(const SSL* connection);
    void Forget(const SSL* connection);
    void SetDeadline(const SSL* connection, Clock::time_point deadline);
    void CutOverdue();

    SSL_CTX* context;
    const std::chrono::seconds requestTimeout;
    std::mutex mutex;
    std::condition_variable wake;
    std::map<const SSL*, Connection> connections;
    bool cutting = false;
    bool ending = false;
    std::thread watchdog;
};

} // namespace repairservice
