// The server's live TLS connections and the limits that keep slow, idle or greedy clients from
// holding the workers honest ones need (each open connection holds a worker thread):
//
//   - a connection must bring its next request header within the request timeout;
//   - a request's body must keep up an average rate after a grace of the same length, so a
//     body trickled a byte at a time is cut however often its bytes come;
//   - while a connection waits for a free worker, every connection that sits idle between
//     requests (or before its first) is cut;
//   - one client address holds at most so many connections; a further one is cut at once;
//   - requests in progress (from their header to their answer) are bounded below the worker
//     count, in all and per address, so slow but steady bodies from a few addresses always leave
//     workers for new clients; a request beyond either bound is turned away.
//
// Stopping the service cuts them all instead of waiting for them. A cut shuts the socket down;
// the library's next read or write on it fails and it ends the connection itself.
//
// The library hands out no sockets, so the watch follows the TLS objects: a connection is
// known from its handshake's start (SSL info callback) until its TLS object is freed, which the
// library does before it closes the socket.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace repairservice {

struct ConnectionLimits {
    std::chrono::seconds requestTimeout{10};
    std::size_t minBodyBytesPerSecond = 8 * 1024;
    std::size_t connectionsPerAddress = 32;
    std::size_t requestsInProgress = 56;
    std::size_t requestsInProgressPerAddress = 16;
    // True while a connection waits for a worker.
    std::function<bool()> workersScarce;
};

class ConnectionWatch {
public:
    using Clock = std::chrono::steady_clock;

    // Watches every connection made with context from now on. The context must outlive it.
    ConnectionWatch(SSL_CTX* context, ConnectionLimits limits);
    ~ConnectionWatch();
    ConnectionWatch(const ConnectionWatch&) = delete;
    ConnectionWatch& operator=(const ConnectionWatch&) = delete;

    // The request header on connection has arrived; its body is now held to the rate. False when
    // too many requests are in progress: the request is to be turned away.
    bool RequestArrived(const SSL* connection);
    // So many bytes of the request's body have arrived in all.
    void BodyProgress(const SSL* connection, std::size_t bytes);
    // The body is read; the work and the answer may take their time.
    void BodyDone(const SSL* connection);
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
    enum class Phase { Idle, Body, Working };
    struct Connection {
        int socket;
        std::string address; // the client's
        Phase phase = Phase::Idle;
        Clock::time_point since; // start of the phase
        Clock::time_point deadline;
        bool cut = false;
    };

    // Process-wide slots: a connection's holds its watch, a context's the watch that follows it.
    static int ConnectionSlot();
    static int ContextSlot();
    static void OnInfo(const SSL* connection, int where, int value);
    static void OnFree(void* connection, void* watch, CRYPTO_EX_DATA*, int, long, void*);
    void Track(const SSL* connection);
    void Forget(const SSL* connection);
    void Enter(const SSL* connection, Phase phase);
    void Begin(Connection& connection, Phase phase) const;
    bool AddressIsFull(const std::string& address) const;
    bool RequestsAreFull(const std::string& address) const;
    void CutOverdue();
    static void CutNow(Connection& connection);

    SSL_CTX* context;
    const ConnectionLimits limits;
    std::mutex mutex;
    std::condition_variable wake;
    std::map<const SSL*, Connection> connections;
    bool cutting = false;
    bool ending = false;
    std::thread watchdog;
};

} // namespace repairservice
