#include "RepairService.h"

#include <signal.h>

#include <stdexcept>

#include <fmt/format.h>
#include <httplib.h>

#include "RepairCommand.h"

namespace repairservice {
namespace {

constexpr const char* kEndpoint = "/api/ravento";
constexpr const char* kLoopback = "127.0.0.1";

void Answer(httplib::Response& response, int status, const std::string& text)
{
    response.status = status;
    response.set_content(text + "\n", "text/plain");
}

void AnswerMethodNotAllowed(const httplib::Request&, httplib::Response& response)
{
    response.set_header("Allow", "POST");
    Answer(response, 405, "only POST is allowed here");
}

} // namespace

RepairService::RepairService(ServiceOptions options)
    : options(std::move(options)), rateLimiter(this->options.uploadLimit, this->options.uploadWindow)
{
}

RepairService::~RepairService()
{
    Stop();
}

int RepairService::Start(int port)
{
    // A client that hangs up mid-reply must not end the whole service.
    ::signal(SIGPIPE, SIG_IGN);

    server = std::make_unique<httplib::SSLServer>(options.tls.certificate.c_str(), options.tls.privateKey.c_str());
    if (!server->is_valid())
        throw std::runtime_error(fmt::format("cannot use the TLS certificate {} with key {}",
                                             options.tls.certificate.string(), options.tls.privateKey.string()));
    AddRoutes();

    int boundPort = port == 0 ? server->bind_to_any_port(kLoopback) : (server->bind_to_port(kLoopback, port) ? port : -1);
    if (boundPort <= 0)
        throw std::runtime_error(fmt::format("cannot listen on {}:{}", kLoopback, port));
    serving = std::thread([this] {
        server->listen_after_bind();
        servingEnded = true;
    });
    return boundPort;
}

void RepairService::Stop()
{
    if (!serving.joinable())
        return;
    // stop() only reaches a server that has begun listening.
    while (!server->is_running() && !servingEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server->stop();
    serving.join();
}

void RepairService::AddRoutes()
{
    server->set_payload_max_length(options.maxUploadBytes);
    // Every answer closes its connection: an idle kept-alive connection would hold one of the
    // server's few worker threads, and a client reusing it just as it times out gets a broken pipe.
    server->set_keep_alive_max_count(1);
    server->Post(kEndpoint, [this](const httplib::Request& request, httplib::Response& response) {
        HandleUpload(request, response);
    });
    server->Get(kEndpoint, AnswerMethodNotAllowed);
    server->Put(kEndpoint, AnswerMethodNotAllowed);
    server->Patch(kEndpoint, AnswerMethodNotAllowed);
    server->Delete(kEndpoint, AnswerMethodNotAllowed);
    server->Options(kEndpoint, AnswerMethodNotAllowed);
    if (options.requestLog)
        server->set_logger([this](const httplib::Request& request, const httplib::Response& response) {
            LogRequest(request, response);
        });
}

void RepairService::HandleUpload(const httplib::Request& request, httplib::Response& response)
{
    if (!rateLimiter.Admit(request.remote_addr, RateLimiter::Clock::now()))
        return Answer(response, 429, fmt::format("rate limit: {} uploads every {} seconds", options.uploadLimit,
                                                 options.uploadWindow.count()));
    if (!request.has_file("file") || request.get_file_value("file").content.empty())
        return Answer(response, 400, "expected a non-empty multipart part named \"file\"");

    RepairResult repair = Repair(options.repairCommand, request.get_file_value("file").content);
    switch (repair.outcome) {
    case RepairResult::Outcome::Repaired:
        response.status = 200;
        response.set_content(std::move(repair.bytes), "application/octet-stream");
        return;
    case RepairResult::Outcome::CannotRepair:
        return Answer(response, 400, "this replay cannot be repaired");
    case RepairResult::Outcome::Failed:
        return Answer(response, 500, repair.detail);
    }
}

void RepairService::LogRequest(const httplib::Request& request, const httplib::Response& response) const
{
    // A multipart body is parsed into parts and not kept, so its size comes from the header.
    options.requestLog(fmt::format("{} {} from {} -> {} ({} bytes in, {} bytes out)", request.method, request.path,
                                   request.remote_addr, response.status,
                                   request.get_header_value<std::uint64_t>("Content-Length"), response.body.size()));
}

} // namespace repairservice
