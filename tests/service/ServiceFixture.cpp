#include "ServiceFixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <thread>

namespace service_testing {

RunningService::RunningService(repairservice::ServiceOptions options) : service(WithTestSettings(std::move(options)))
{
    // As the service's main does: a client that hangs up mid-answer must not end the process.
    ::signal(SIGPIPE, SIG_IGN);
    port = service.Start(0);
}

repairservice::ServiceOptions RunningService::WithTestSettings(repairservice::ServiceOptions options)
{
    options.tls = repairservice::MakeSelfSignedCertificate(dir.Path(), "repair.ravento.test");
    options.requestLog = [this](const std::string& line) {
        std::lock_guard lock(logMutex);
        log.push_back(line);
    };
    return options;
}

httplib::Result RunningService::Upload(const std::string& bytes, const std::string& partName)
{
    httplib::MultipartFormDataItems form = {{partName, bytes, "R.replay", "application/octet-stream"}};
    return Client()->Post("/api/ravento", form);
}

std::unique_ptr<httplib::SSLClient> RunningService::Client()
{
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", port);
    client->set_ca_cert_path((dir.Path() / "certificate.pem").c_str());
    client->enable_server_certificate_verification(true);
    return client;
}

std::vector<std::string> RunningService::Log()
{
    std::lock_guard lock(logMutex);
    return log;
}

std::string FormBody(std::string_view bytes)
{
    return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"R.replay\"\r\n\r\n"
        + std::string(bytes) + "\r\n--" + kBoundary + "--\r\n";
}

RawConnection::RawConnection(int port, bool useTls, const std::string& source)
{
    socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected = ::bind(socket, reinterpret_cast<const sockaddr*>(&from), sizeof from) == 0
        && ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (!connected || !useTls)
        return;
    context = SSL_CTX_new(TLS_client_method());
    tls = SSL_new(context);
    SSL_set_fd(tls, socket);
    connected = SSL_connect(tls) == 1;
}

RawConnection::~RawConnection()
{
    if (tls != nullptr)
        SSL_free(tls);
    if (context != nullptr)
        SSL_CTX_free(context);
    ::close(socket);
}

bool RawConnection::Send(std::string_view bytes)
{
    if (tls != nullptr)
        return SSL_write(tls, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
    return ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

bool RawConnection::EndedByService(std::chrono::milliseconds wait)
{
    // Without blocking: a TLS read may find only a session ticket and would then wait for more.
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    char buffer[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable{socket, POLLIN, 0};
        if (left.count() <= 0)
            return false;
        if (::poll(&readable, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
            return false;
        if (tls == nullptr) {
            ssize_t count = ::recv(socket, buffer, sizeof buffer, 0);
            if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR))
                return true;
            if (count > 0)
                received.append(buffer, static_cast<std::size_t>(count));
            continue;
        }
        int count = SSL_read(tls, buffer, sizeof buffer);
        int error = SSL_get_error(tls, count);
        if (count <= 0 && error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            return true;
        if (count > 0)
            received.append(buffer, static_cast<std::size_t>(count));
    }
}

std::vector<pid_t> LiveProcessesInGroup(pid_t group)
{
    std::vector<pid_t> live;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream statFile(entry.path() / "stat");
        std::string stat;
        if (!std::getline(statFile, stat))
            continue;
        // pid (name) state ppid pgrp ...; the name may hold blanks, so read after its ')'.
        std::istringstream rest(stat.substr(stat.rfind(')') + 1));
        char state = 0;
        pid_t parent = 0, processGroup = 0;
        rest >> state >> parent >> processGroup;
        if (processGroup == group && state != 'Z')
            live.push_back(std::stoi(entry.path().filename().string()));
    }
    return live;
}

int OpenFilesIn(const std::filesystem::path& folder)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && target.string().rfind(folder.string() + "/", 0) == 0)
            ++count;
    }
    return count;
}

} // namespace service_testing
