#include "RepairService.h"

#include <sys/socket.h>

#include <stdexcept>

#include <fmt/format.h>
#include <httplib.h>

#include "ConnectionWatch.h"
#include "TemporaryFile.h"
#include "UploadReceiver.h"

namespace repairservice {

// The library listens with a backlog of 5: a burst of clients beyond that waits a second for
// its connection to be retried. Listening again on the bound socket raises it.
class ServiceServer : public httplib::SSLServer {
public:
    using SSLServer::SSLServer;
    bool WidenBacklog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};

// The library's thread pool, counting the connections that wait for a worker: while one does,
// idle connections give theirs up.
class CountingPool : public httplib::TaskQueue {
public:
    CountingPool(std::size_t workers, std::atomic<std::size_t>& waiting) : pool(workers), waiting(waiting) {}

    void enqueue(std::function<void()> task) override
    {
        ++waiting;
        pool.enqueue([this, task = std::move(task)] {
            --waiting;
            task();
        });
    }
    void shutdown() override { pool.shutdown(); }

private:
    httplib::ThreadPool pool;
    std::atomic<std::size_t>& waiting;
};

namespace {

constexpr const char* kEndpoint = "/api/ravento";
constexpr const char* kLoopback = "127.0.0.1";
constexpr std::size_t kSendBlock = 64 * 1024;

void Answer(httplib::Response& response, int status, const std::string& text)
{
    response.status = status;
    response.set_content(text + "\n", "text/plain");
}

// An answer given before the body was read in full: the connection ends with it, and the
// logger cuts it, because the library would read the rest of the body as further requests.
void Refuse(httplib::Response& response, int status, const std::string& text)
{
    Answer(response, status, text);
    response.set_header("Connection", "close");
}

// A refusal closes the connection; so does any 400, because a request the service could not make
// sense of (a Content-Length that is no number, say) leaves the framing of what follows in doubt.
bool EndsConnection(const httplib::Response& response)
{
    return response.get_header_value("Connection") == "close" || response.status == 400;
}

// The connection a request came on, also when the library could not read its request line.
const SSL* ConnectionOf(const httplib::Request& request)
{
    return request.ssl != nullptr ? request.ssl : ConnectionWatch::ServedOnThisThread();
}

void AnswerMethodNotAllowed(const httplib::Request&, httplib::Response& response)
{
    response.set_header("Allow", "POST");
    Answer(response, 405, "only POST is allowed here");
}

// Sends the file's content, read in blocks as the client takes it. The answer owns the file.
void AnswerWithFile(httplib::Response& response, std::shared_ptr<TemporaryFile> file)
{
    response.status = 200;
    const std::size_t size = file->Size();
    if (size == 0)
        return response.set_content("", "application/octet-stream");
    response.set_content_provider(size, "application/octet-stream",
                                  [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                      char block[kSendBlock];
                                      long count = file->ReadAt(offset, block, std::min(length, kSendBlock));
                                      return count > 0 && sink.write(block, static_cast<std::size_t>(count));
                                  });
}

} // namespace

RepairService::RepairService(ServiceOptions options)
    : options(std::move(options)),
      rateLimiter(this->options.uploadLimit, this->options.uploadWindow),
      repairRunner(this->options.repairCommand, this->options.repairTimeout,
                   this->options.maxRepairedBytes != 0 ? this->options.maxRepairedBytes : this->options.maxUploadBytes)
{
}

RepairService::~RepairService()
{
    Stop();
}

int RepairService::Start(int port)
{
    server = std::make_unique<ServiceServer>(options.tls.certificate.c_str(), options.tls.privateKey.c_str());
    if (!server->is_valid())
        throw std::runtime_error(fmt::format("cannot use the TLS certificate {} with key {}",
                                             options.tls.certificate.string(), options.tls.privateKey.string()));
    watch = std::make_unique<ConnectionWatch>(
        server->ssl_context(),
        ConnectionLimits{options.requestTimeout, options.bodyGrace, options.minBodyBytesPerSecond,
                         options.connectionsPerAddress, options.requestsInProgress,
                         options.requestsInProgressPerAddress, options.slowBody,
                         [this] { return waitingConnections > 0; }});
    LimitConnections();
    AddRoutes();
    AddHooks();

    int boundPort =
        port == 0 ? server->bind_to_any_port(kLoopback) : (server->bind_to_port(kLoopback, port) ? port : -1);
    if (boundPort <= 0 || !server->WidenBacklog())
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
    repairRunner.StopAll();
    server->stop();
    // The server ends once its workers have; a worker waiting on a slow client would hold it.
    while (!servingEnded) {
        watch->CutAll();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    serving.join();
}

void RepairService::LimitConnections()
{
    server->new_task_queue = [this] { return new CountingPool(options.workerThreads, waitingConnections); };
    // An answer goes out as a header and a body; Nagle would hold the body for the client's
    // delayed acknowledgement of the header (some 40 ms per request on a kept-alive connection).
    server->set_tcp_nodelay(true);
    server->set_read_timeout(options.readTimeout);
    server->set_write_timeout(options.readTimeout);
    server->set_keep_alive_max_count(options.requestsPerConnection);
    server->set_keep_alive_timeout(options.keepAliveTimeout.count());
}

void RepairService::AddRoutes()
{
    server->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        if (watch->RequestArrived(request.ssl, BodyBytesToExpect(request)))
            return httplib::Server::HandlerResponse::Unhandled;
        Refuse(response, 503, "too many uploads in progress; try again in a minute");
        return httplib::Server::HandlerResponse::Handled;
    });
    server->Post(kEndpoint,
                 [this](const httplib::Request& request, httplib::Response& response,
                        const httplib::ContentReader& reader) { HandleUpload(request, response, reader); });
    server->Get(kEndpoint, AnswerMethodNotAllowed);
    server->Put(kEndpoint, AnswerMethodNotAllowed);
    server->Patch(kEndpoint, AnswerMethodNotAllowed);
    server->Delete(kEndpoint, AnswerMethodNotAllowed);
    server->Options(kEndpoint, AnswerMethodNotAllowed);
}

void RepairService::AddHooks()
{
    server->set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& what) {
            Refuse(response, 500, what.what());
        }
    });
    // A client that asks first is told before it sends a body that is too large.
    server->set_expect_100_continue_handler([this](const httplib::Request& request, httplib::Response& response) {
        if (!DeclaresTooLarge(request))
            return 100;
        Refuse(response, 413, TooLargeText());
        return 413;
    });
    server->set_logger([this](const httplib::Request& request, const httplib::Response& response) {
        const SSL* connection = ConnectionOf(request);
        // On a cut connection the library still goes through its remaining keep-alive turns,
        // finding no request or taking what it had buffered of a refused body for one it cannot
        // read (request.ssl unset); none of those is answered, so none is worth a line.
        const bool leftOver = request.method.empty() || (request.ssl == nullptr && watch->WasCut(connection));
        if (EndsConnection(response))
            watch->Cut(connection);
        else
            watch->AnswerSent(connection);
        if (options.requestLog && !leftOver)
            LogRequest(request, response);
    });
}

void RepairService::HandleUpload(const httplib::Request& request, httplib::Response& response,
                                 const httplib::ContentReader& reader)
{
    const SSL* connection = ConnectionOf(request);
    if (!rateLimiter.Admit(request.remote_addr, RateLimiter::Clock::now())) {
        watch->Refused(connection);
        DropUpload(request, reader);
        return Refuse(
            response, 429,
            fmt::format("rate limit: {} uploads every {} seconds", options.uploadLimit, options.uploadWindow.count()));
    }
    // Answered unread: a body over the cap is not worth reading, even to drop it.
    if (DeclaresTooLarge(request))
        return Refuse(response, 413, TooLargeText());

    auto progress = [this, connection](std::size_t bytes) { watch->BodyProgress(connection, bytes); };
    auto upload = std::make_shared<TemporaryFile>(options.temporaryFolder, options.bytesInMemory);
    const UploadOutcome received = ReceiveUpload(request, reader, *upload, options.maxUploadBytes, progress);
    watch->BodyDone(connection);
    switch (received) {
    case UploadOutcome::Received:
        break;
    case UploadOutcome::NoFilePart:
        return Answer(response, 400, "expected a non-empty multipart part named \"file\"");
    case UploadOutcome::TooLarge:
        return Refuse(response, 413, TooLargeText());
    case UploadOutcome::Unreadable:
        return Refuse(response, 400, "the upload's body is incomplete or malformed");
    case UploadOutcome::StoreFailed:
        return Refuse(response, 500, "cannot store the upload in a temporary file");
    }
    if (upload->Size() == 0)
        return Answer(response, 400, "expected a non-empty multipart part named \"file\"");
    if (options.repairCommand.empty())
        return AnswerWithFile(response, std::move(upload));

    auto repaired = std::make_shared<TemporaryFile>(options.temporaryFolder, options.bytesInMemory);
    RepairResult repair = repairRunner.Repair(*upload, *repaired);
    switch (repair.outcome) {
    case RepairResult::Outcome::Repaired:
        return AnswerWithFile(response, std::move(repaired));
    case RepairResult::Outcome::CannotRepair:
        return Answer(response, 400, "this replay cannot be repaired");
    case RepairResult::Outcome::Failed:
        return Answer(response, 500, repair.detail);
    }
}

bool RepairService::DeclaresTooLarge(const httplib::Request& request) const
{
    return request.get_header_value<std::uint64_t>("Content-Length") > options.maxUploadBytes;
}

// What a request's body may bring: its announced length, or up to the cap when it comes in chunks.
std::size_t RepairService::BodyBytesToExpect(const httplib::Request& request) const
{
    return request.has_header("Content-Length") ? request.get_header_value<std::uint64_t>("Content-Length")
                                                : options.maxUploadBytes;
}

std::string RepairService::TooLargeText() const
{
    return fmt::format("uploads are limited to {} bytes", options.maxUploadBytes);
}

void RepairService::LogRequest(const httplib::Request& request, const httplib::Response& response) const
{
    // Answers other than 200 are short texts that say why.
    std::string reason;
    if (response.status != 200 && !response.body.empty())
        reason = ": " + response.body.substr(0, response.body.find('\n'));
    std::string bytesIn = request.has_header("Content-Length")
        ? fmt::format("{} bytes in", request.get_header_value("Content-Length"))
        : std::string("chunked in");
    options.requestLog(fmt::format("{} {} from {} -> {} ({}, {} bytes out){}", request.method, request.path,
                                   request.remote_addr, response.status, bytesIn,
                                   response.get_header_value<std::uint64_t>("Content-Length"), reason));
}

} // namespace repairservice
