#include "ConnectionWatch.h"

#include <sys/socket.h>

namespace repairservice {
namespace {

constexpr auto kCheckInterval = std::chrono::milliseconds(200);

} // namespace

ConnectionWatch::ConnectionWatch(SSL_CTX* context, std::chrono::seconds requestTimeout)
    : context(context), requestTimeout(requestTimeout)
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

void ConnectionWatch::RequestArrived(const SSL* connection)
{
    SetDeadline(connection, Clock::time_point::max());
}

void ConnectionWatch::AnswerSent(const SSL* connection)
{
    SetDeadline(connection, Clock::now() + requestTimeout);
}

void ConnectionWatch::Cut(const SSL* connection)
{
    std::lock_guard lock(mutex);
    auto entry = connections.find(connection);
    if (entry != connections.end())
        ::shutdown(entry->second.socket, SHUT_RDWR);
}

void ConnectionWatch::CutAll()
{
    std::lock_guard lock(mutex);
    cutting = true;
    for (auto& [tls, connection] : connections)
        ::shutdown(connection.socket, SHUT_RDWR);
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
    std::lock_guard lock(mutex);
    // A handshake starts again on a key update; the connection keeps its deadline.
    auto [entry, added] =
        connections.try_emplace(connection, Connection{SSL_get_fd(connection), Clock::now() + requestTimeout});
    if (!added)
        return;
    SSL_set_ex_data(const_cast<SSL*>(connection), ConnectionSlot(), this);
    if (cutting)
        ::shutdown(entry->second.socket, SHUT_RDWR);
}

void ConnectionWatch::Forget(const SSL* connection)
{
    if (servedOnThisThread == connection)
        servedOnThisThread = nullptr;
    std::lock_guard lock(mutex);
    connections.erase(connection);
}

void ConnectionWatch::SetDeadline(const SSL* connection, Clock::time_point deadline)
{
    std::lock_guard lock(mutex);
    auto entry = connections.find(connection);
    if (entry != connections.end())
        entry->second.deadline = deadline;
}

// The socket is shut down, not closed: the library still owns it and closes it itself.
void ConnectionWatch::CutOverdue()
{
    const Clock::time_point now = Clock::now();
    for (auto& [tls, connection] : connections) {
        if (connection.deadline <= now) {
            ::shutdown(connection.socket, SHUT_RDWR);
            connection.deadline = Clock::time_point::max();
        }
    }
}

} // namespace repairservice
