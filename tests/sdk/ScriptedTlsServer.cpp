#include "ScriptedTlsServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <stdexcept>

#include <fmt/format.h>
#include <openssl/ssl.h>

#include "SelfSignedCertificate.h"

namespace testing_support {

bool TlsConnection::Write(std::string_view bytes)
{
    return SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
}

bool TlsConnection::Pause(std::chrono::milliseconds time)
{
    std::unique_lock lock(server.mutex);
    return !server.stopped.wait_for(lock, time, [this] { return server.stopping; });
}

bool TlsConnection::ReadRequest()
{
    std::string request;
    char buffer[4096];
    auto readMore = [&] {
        int got = SSL_read(ssl, buffer, sizeof buffer);
        if (got > 0)
            request.append(buffer, static_cast<std::size_t>(got));
        return got > 0;
    };
    std::size_t headEnd = std::string::npos;
    while ((headEnd = request.find("\r\n\r\n")) == std::string::npos) {
        if (!readMore())
            return false;
    }
    std::size_t start = request.find(' ') + 1;
    path = request.substr(start, request.find(' ', start) - start);

    // The body is read too: a server that closes on unread bytes resets the connection.
    std::string head = request.substr(0, headEnd);
    for (char& c : head)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t length = 0;
    if (std::size_t field = head.find("\r\ncontent-length:"); field != std::string::npos)
        length = std::stoul(head.substr(field + 17));
    bool chunked = head.find("\r\ntransfer-encoding: chunked") != std::string::npos;
    auto complete = [&] {
        if (chunked)
            return request.size() >= headEnd + 5 && request.compare(request.size() - 5, 5, "0\r\n\r\n") == 0;
        return request.size() >= headEnd + 4 + length;
    };
    while (!complete()) {
        if (!readMore())
            return false;
    }
    return true;
}

ScriptedTlsServer::ScriptedTlsServer(Answer answer) : answer(std::move(answer))
{
    std::signal(SIGPIPE, SIG_IGN); // a client that left must fail a write, not end the test
    repairservice::TlsFiles files = repairservice::MakeSelfSignedCertificate(tlsDir.Path(), "localhost");
    certificate = files.certificate;
    context = SSL_CTX_new(TLS_server_method());
    if (!context || SSL_CTX_use_certificate_chain_file(context, files.certificate.c_str()) != 1
        || SSL_CTX_use_PrivateKey_file(context, files.privateKey.c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("cannot set up the test server's TLS context");

    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 16) != 0
        || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on the loopback interface");
    port = ntohs(address.sin_port);
    acceptor = std::thread([this] { AcceptLoop(); });
}

ScriptedTlsServer::~ScriptedTlsServer()
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    stopped.notify_all();
    acceptor.join();
    for (std::thread& connection : connections)
        connection.join();
    close(listener);
    SSL_CTX_free(context);
}

std::string ScriptedTlsServer::Url(const std::string& path) const
{
    return fmt::format("https://127.0.0.1:{}{}", port, path);
}

void ScriptedTlsServer::AcceptLoop()
{
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (stopping)
                return;
        }
        pollfd waiting{listener, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0)
            continue;
        int socket = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket >= 0)
            connections.emplace_back([this, socket] { Serve(socket); });
    }
}

void ScriptedTlsServer::Serve(int socket)
{
    // A client that stops talking does not hold the test up for long.
    timeval timeout{5, 0};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    SSL* ssl = SSL_new(context);
    SSL_set_fd(ssl, socket);
    TlsConnection connection(*this, ssl);
    if (SSL_accept(ssl) == 1 && connection.ReadRequest()) {
        ++requests;
        answer(connection);
        if (connection.notifyOnClose)
            SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    close(socket);
}

} // namespace testing_support
