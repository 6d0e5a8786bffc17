#include "ConnectionWatch.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <limits>

namespace repairservice {
namespace {

constexpr auto kCheckInterval = std::chrono::milliseconds(200);
// While workers are scarce, a connection idle for this long gives its worker up. Long enough
// for an honest client to finish its handshake and send its request.
constexpr auto kIdleGrace = std::chrono::milliseconds(250);

// The client's address without its port: "127.0.0.2", "::1". Empty when the socket has none.
std::string PeerAddress(int socket)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const void* address = peer.ss_family == AF_INET6
        ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr)
        : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr);
    return ::inet_ntop(peer.ss_family, address, text, sizeof text) != nullptr ? text : "";
}

// At the body's average pace from its header on; one that has sent nothing never finishes.
double SecondsToFinish(std::size_t bodyBytes, std::size_t received, ConnectionWatch::Clock::duration elapsed)
{
    if (received >= bodyBytes)
        return 0;
    if (received == 0)
        return std::numeric_limits<double>::infinity();
    return static_cast<double>(bodyBytes - received) * std::chrono::duration<double>(elapsed).count()
        / static_cast<double>(received);
}

} // namespace

ConnectionWatch::ConnectionWatch(SSL_CTX* context, ConnectionLimits limits)
    : context(context), limits(std::move(limits))
{
    SSL_CTX_set_ex_data(context, ContextSlot(), this);
    SSL_CTX_set_info_callback(context, OnInfo);
    watchdog = std::thread([this] {
        std::unique_lock lock(mutex);
        while (!wake.wait_for(lock, kCheckInterval, [this] { return ending; }))
            CutOverdue();
    });
}

ConnectionWatch::~ConnectionWatch()
{
    {
        std::lock_guard lock(mutex);
        ending = true;
    }
    wake.notify_all();
    watchdog.join();
    SSL_CTX_set_info_callback(context, nullptr);
    SSL_CTX_set_ex_data(context, ContextSlot(), nullptr);
}

bool ConnectionWatch::RequestArrived(const SSL* connection, std::size_t bodyBytes)
{
    std::lock_guard lock(mutex);
    auto entry = connections.find(connection);
    if (entry == connections.end())
        return true; // the library's next read on it fails anyway
    if (entry->second.cut)
        return false; // read from what was buffered before the cut: not to be served uncounted
    const InProgress inProgress = RequestsInProgress(entry->second.address);
    if (inProgress.fromAddress >= limits.requestsInProgressPerAddress)
        return false;
    if (inProgress.all >= limits.requestsInProgress && !CutSlowestBody(Clock::now()))
        return false;
    Begin(entry->second, Phase::Body);
    entry->second.bodyBytes = bodyBytes;
    entry->second.bodyReceived = 0;
    return true;
}

void ConnectionWatch::BodyProgress(const SSL* connection, std::size_t bytes)
{
    std::lock_guard lock(mutex);
    auto entry = connections.find(connection);
    if (entry == connections.end() || entry->second.phase != Phase::Body || entry->second.cut)
        return;
    entry->second.bodyReceived = bytes;
    if (limits.minBodyBytesPerSecond == 0)
        return;
    // The body must average the rate after its grace: each byte buys its share of a second.
    const auto earned = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(limits.minBodyBytesPerSecond)));
    entry->second.deadline = entry->second.since + limits.bodyGrace + earned;
}

void ConnectionWatch::BodyDone(const SSL* connection)
{
    Enter(connection, Phase::Working);
}

void ConnectionWatch::Refused(const SSL* connection)
{
    Enter(connection, Phase::Refused);
}

void ConnectionWatch::AnswerSent(const SSL* connection)
{
    Enter(connection, Phase::Idle);
}

void ConnectionWatch::Cut(const SSL* connection)
{
    std::lock_guard lock(mutex);
    auto entry = connections.find(connection);
    if (entry != connections.end())
        CutNow(entry->second);
}

bool ConnectionWatch::WasCut(const SSL* connection)
{
    std::lock_guard lock(mutex);
    auto entry = connections.find(connection);
    return entry != connections.end() && entry->second.cut;
}

void ConnectionWatch::CutAll()
{
    std::lock_guard lock(mutex);
    cutting = true;
    for (auto& [tls, connection] : connections)
        CutNow(connection);
}

int ConnectionWatch::ConnectionSlot()
{
    static const int slot = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, OnFree);
    return slot;
}

int ConnectionWatch::ContextSlot()
{
    static const int slot = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return slot;
}

void ConnectionWatch::OnInfo(const SSL* connection, int where, int)
{
    auto* watch = static_cast<ConnectionWatch*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(connection), ContextSlot()));
    if ((where & SSL_CB_HANDSHAKE_START) != 0 && watch != nullptr)
        watch->Track(connection);
}

// Called for every TLS object that is freed; watch is set only on the ones being tracked.
void ConnectionWatch::OnFree(void* connection, void* watch, CRYPTO_EX_DATA*, int, long, void*)
{
    if (watch != nullptr)
        static_cast<ConnectionWatch*>(watch)->Forget(static_cast<const SSL*>(connection));
}

namespace {
// The library serves a connection on one worker thread, from its handshake to its end.
thread_local const SSL* servedOnThisThread = nullptr;
} // namespace

const SSL* ConnectionWatch::ServedOnThisThread()
{
    return servedOnThisThread;
}

void ConnectionWatch::Track(const SSL* connection)
{
    servedOnThisThread = connection;
    const int socket = SSL_get_fd(connection);
    std::string address = PeerAddress(socket);
    std::lock_guard lock(mutex);
    const Clock::time_point now = Clock::now();
    // A handshake starts again on a key update; the connection keeps its deadline.
    auto [entry, added] = connections.try_emplace(
        connection, Connection{socket, address, Phase::Idle, now, now + limits.requestTimeout});
    if (!added)
        return;
    SSL_set_ex_data(const_cast<SSL*>(connection), ConnectionSlot(), this);
    if (cutting || AddressIsFull(address))
        CutNow(entry->second);
}

void ConnectionWatch::Forget(const SSL* connection)
{
    if (servedOnThisThread == connection)
        servedOnThisThread = nullptr;
    std::lock_guard lock(mutex);
    connections.erase(connection);
}

void ConnectionWatch::Enter(const SSL* connection, Phase phase)
{
    std::lock_guard lock(mutex);
    auto entry = connections.find(connection);
    if (entry != connections.end() && !entry->second.cut)
        Begin(entry->second, phase);
}

void ConnectionWatch::Begin(Connection& connection, Phase phase) const
{
    const Clock::time_point now = Clock::now();
    connection.phase = phase;
    connection.since = now;
    if (phase == Phase::Idle)
        connection.deadline = now + limits.requestTimeout;
    else if (phase == Phase::Refused || (phase == Phase::Body && limits.minBodyBytesPerSecond != 0))
        connection.deadline = now + limits.bodyGrace;
    else
        connection.deadline = Clock::time_point::max();
}

// Counts the connection just added, so the limit is reached when the count passes it.
bool ConnectionWatch::AddressIsFull(const std::string& address) const
{
    const auto fromAddress = std::count_if(connections.begin(), connections.end(), [&](const auto& entry) {
        return !entry.second.cut && entry.second.address == address;
    });
    return static_cast<std::size_t>(fromAddress) > limits.connectionsPerAddress;
}

// Counts the requests in progress before this one is added.
ConnectionWatch::InProgress ConnectionWatch::RequestsInProgress(const std::string& address) const
{
    InProgress inProgress;
    for (const auto& [tls, connection] : connections) {
        if (connection.cut || connection.phase == Phase::Idle || connection.phase == Phase::Refused)
            continue;
        ++inProgress.all;
        inProgress.fromAddress += connection.address == address ? 1 : 0;
    }
    return inProgress;
}

// Makes room for a new request: cuts the body past its grace that would finish last, if that is
// more than limits.slowBody away. False when no body is that slow.
bool ConnectionWatch::CutSlowestBody(Clock::time_point now)
{
    Connection* slowest = nullptr;
    double slowestSeconds = std::chrono::duration<double>(limits.slowBody).count();
    for (auto& [tls, connection] : connections) {
        if (connection.cut || connection.phase != Phase::Body || now - connection.since < limits.bodyGrace)
            continue;
        const double seconds = SecondsToFinish(connection.bodyBytes, connection.bodyReceived, now - connection.since);
        if (seconds > slowestSeconds) {
            slowest = &connection;
            slowestSeconds = seconds;
        }
    }
    if (slowest == nullptr)
        return false;
    CutNow(*slowest);
    return true;
}

void ConnectionWatch::CutOverdue()
{
    const Clock::time_point now = Clock::now();
    const bool scarce = limits.workersScarce && limits.workersScarce();
    for (auto& [tls, connection] : connections) {
        const bool idleTooLong = connection.phase == Phase::Idle && now - connection.since >= kIdleGrace;
        if (!connection.cut && (connection.deadline <= now || (scarce && idleTooLong)))
            CutNow(connection);
    }
}

// The socket is shut down, not closed: the library still owns it and closes it itself.
void ConnectionWatch::CutNow(Connection& connection)
{
    ::shutdown(connection.socket, SHUT_RDWR);
    connection.cut = true;
}

} // namespace repairservice
