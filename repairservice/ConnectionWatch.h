// The server's live TLS connections and the limits that keep slow, idle or greedy clients from
// holding the workers honest ones need (each open connection holds a worker thread):
//
//   - a connection must bring its next request header within the request timeout;
//   - a request's body must keep up an average rate from the end of a short grace (a second),
//     so a body trickled a byte at a time is cut however often its bytes come;
//   - while a connection waits for a free worker, every connection that sits idle between
//     requests (or before its first) is cut;
//   - one client address holds at most so many connections; a further one is cut at once;
//   - requests in progress (from their header to their answer) are bounded below the worker
//     count, in all and per address, so slow but steady bodies from a few addresses always leave
//     workers for new clients. A request beyond the address's bound is turned away. One beyond
//     the overall bound takes the slot of the body that would finish last at its pace so far,
//     if that is further away than a limit (past its grace, a body that has sent nothing yet
//     never finishes); only when no body is that slow is it turned away. Bodies kept just above
//     the rate but announcing far more than they send therefore give way to honest uploads;
//   - a refused request's body is read and dropped only for the grace, and holds no slot.
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
    // From a request's header to when its body's rate counts and its pace is judged.
    std::chrono::milliseconds bodyGrace{1000};
    std::size_t minBodyBytesPerSecond = 8 * 1024;
    std::size_t connectionsPerAddress = 32;
    std::size_t requestsInProgress = 56;
    std::size_t requestsInProgressPerAddress = 16;
    // While every slot is taken, a body that would need longer to finish gives its slot up.
    std::chrono::seconds slowBody{30};
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

    // The request header on connection has arrived, announcing a body of bodyBytes; the body is
    // now held to the rate. May cut the slowest body in progress to make room. False when too
    // many requests are in progress all the same: the request is to be turned away.
    bool RequestArrived(const SSL* connection, std::size_t bodyBytes);
    // So many bytes of the request's body have arrived in all.
    void BodyProgress(const SSL* connection, std::size_t bytes);
    // The body is read; the work and the answer may take their time.
    void BodyDone(const SSL* connection);
    // The request is refused: the rest of its body may be read and dropped within the body
    // grace, and the request holds no slot meanwhile.
    void Refused(const SSL* connection);
    // The answer on connection is sent; the next request must arrive within the timeout.
    void AnswerSent(const SSL* connection);
    // Cuts the connection now: the library's next read or write on it fails, though it may
    // still parse what it had buffered.
    void Cut(const SSL* connection);
    bool WasCut(const SSL* connection);
    // Cuts every connection, now and from now on.
    void CutAll();
    // The connection this thread serves: the library leaves a request's TLS object unset when
    // it could not read the request line, and still answers it.
    static const SSL* ServedOnThisThread();

private:
    enum class Phase { Idle, Body, Working, Refused };
    struct Connection {
        int socket;
        std::string address; // the client's
        Phase phase = Phase::Idle;
        Clock::time_point since; // start of the phase
        Clock::time_point deadline;
        std::size_t bodyBytes = 0; // announced by the request in progress
        std::size_t bodyReceived = 0;
        bool cut = false;
    };
    struct InProgress {
        std::size_t all = 0;
        std::size_t fromAddress = 0;
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
    InProgress RequestsInProgress(const std::string& address) const;
    bool CutSlowestBody(Clock::time_point now);
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
