// Schannel behind HttpTransport: one worker thread runs the requests one after another. Each
// connects, shakes hands, checks the server's certificate, and only then writes its HTTP/1.1
// request and reads the reply itself, so every rule of HttpReplyLimits applies to the bytes
// as they arrive: interim heads, the header cap, chunked framing, the speed floor.
//
// Index
// [SECTION] One exchange
// [SECTION] Worker
// [SECTION] SchannelTransport
#include "orvane/host/SchannelTransport.h"

#include "TlsConnection.h"

#include <algorithm>
#include <cstdint>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include <fmt/format.h>

#include "HttpRequest.h"
#include "ServerCertificate.h"
#include "../HttpChunks.h"
#include "../HttpReplyLimits.h"

namespace devhost {
namespace {

constexpr std::chrono::seconds kConnectTimeout{30};
constexpr std::size_t kSendBytes = 64 * 1024;

struct Outcome {
    int status = 0;
    std::string body;
    std::string reason; // why the transfer failed, when status is 0
};

Outcome Failed(std::string reason)
{
    return {0, {}, std::move(reason)};
}

std::wstring Wide(std::string_view text)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

// [SECTION] One exchange

class Exchange {
public:
    Exchange(const TrustedRoots& roots, const HttpTransportOptions& options, TlsConnection::Checkpoint stopping)
        : roots(roots), options(options), watch(options),
          connection([this, stopping = std::move(stopping)] {
              std::string why = stopping();
              return why.empty() ? watch.Check() : why;
          })
    {
    }

    Outcome Run(const CurlRequest& request)
    {
        std::string error;
        std::optional<Target> target = TargetOf(request.url, options, error);
        if (!target)
            return Failed(error);
        RequestBody body;
        if (error = BuildBody(body, request); !error.empty())
            return Failed(error);
        const std::wstring host = Wide(target->host);
        if (error = connection.Connect(Wide(target->connectHost), target->connectPort, kConnectTimeout); !error.empty())
            return Failed(error);
        if (error = connection.Handshake(host); !error.empty())
            return Failed(error);
        // Not a byte of the request before the server has proved who it is.
        if (error = CheckServer(host); !error.empty())
            return Failed(error);
        const std::string head = RequestHead(request, *target, body);
        if (error = Send(head.data(), head.size()); !error.empty())
            return Failed(error);
        if (error = SendBody(body); !error.empty())
            return Failed(error);
        return Receive(request.verb == "HEAD");
    }

private:
    std::string CheckServer(const std::wstring& host)
    {
        std::string error;
        PCCERT_CONTEXT certificate = connection.ServerCertificate(error);
        if (certificate == nullptr)
            return error;
        std::string why = roots.Check(certificate, host);
        CertFreeCertificateContext(certificate);
        return why;
    }

    std::string Send(const char* data, std::size_t size)
    {
        if (std::string why = connection.Send(data, size); !why.empty())
            return why;
        watch.Moved(size);
        return {};
    }

    std::string SendBody(RequestBody& body)
    {
        std::vector<char> buffer(kSendBytes);
        for (RequestBody::Piece& piece : body.pieces) {
            if (!piece.file) {
                if (std::string error = Send(piece.text.data(), piece.text.size()); !error.empty())
                    return error;
                continue;
            }
            for (std::uint64_t left = piece.file->Size(); left > 0;) {
                std::ptrdiff_t got = piece.file->Read(buffer.data(), std::min<std::uint64_t>(left, buffer.size()));
                if (got <= 0)
                    return "the upload file could not be read to its end";
                if (std::string error = Send(buffer.data(), static_cast<std::size_t>(got)); !error.empty())
                    return error;
                left -= static_cast<std::uint64_t>(got);
            }
        }
        return {};
    }

    // More of the reply into pending; closed once the server has ended the connection.
    std::string ReceiveMore()
    {
        const std::size_t before = pending.size();
        std::string why = connection.Receive(pending, closed);
        watch.Moved(pending.size() - before);
        return why;
    }

    // The heads, interim ones included, line by line, up to the final head's empty line.
    std::string ReceiveHead(ReplyHead& head)
    {
        while (!head.Complete()) {
            const std::size_t newline = pending.find('\n');
            if (newline != std::string::npos) {
                if (std::string why = head.Line(std::string_view(pending).substr(0, newline + 1)); !why.empty())
                    return why;
                pending.erase(0, newline + 1);
            } else if (pending.size() > kMaxHeaderBytes) {
                return head.Line(pending); // a line without end past the cap: the cap's own refusal
            } else if (closed) {
                return "the reply ended inside its headers";
            } else if (std::string why = ReceiveMore(); !why.empty()) {
                return why;
            }
        }
        return {};
    }

    // The body up to its announced end (a length, the final chunk) or the connection's.
    std::string ReceiveBody(const ReplyHead& head, ReplyBody& body, std::optional<ChunkedBody>& chunks)
    {
        for (;;) {
            std::string why;
            if (chunks) {
                why = chunks->Feed(pending.data(), pending.size(), body);
            } else {
                const std::uint64_t left = head.ContentLength().value_or(UINT64_MAX) - body.Size();
                why = body.Append(pending.data(), static_cast<std::size_t>(std::min<std::uint64_t>(pending.size(), left)));
            }
            pending.clear();
            const bool ended = chunks ? chunks->Done() : head.ContentLength() == body.Size();
            if (!why.empty() || ended || closed)
                return why;
            if (why = ReceiveMore(); !why.empty())
                return why;
        }
    }

    Outcome Receive(bool headOnly)
    {
        ReplyHead head;
        if (std::string why = ReceiveHead(head); !why.empty())
            return Failed(why);
        const int status = head.Status();
        if (headOnly || status == 204 || status == 304)
            return {status, {}, {}};
        // Refused before a byte is read: it could never fit.
        if (head.ContentLength() > options.maxReplyBytes)
            return Failed(fmt::format("reply larger than {} bytes", options.maxReplyBytes));
        ReplyBody body(options.maxReplyBytes);
        body.Announce(head.ContentLength());
        std::optional<ChunkedBody> chunks;
        if (head.Chunked())
            chunks.emplace();
        if (std::string why = ReceiveBody(head, body, chunks); !why.empty())
            return Failed(why);
        if (std::string doubt = chunks ? chunks->CheckEnd() : head.CheckEnd(status, body.Size()); !doubt.empty())
            return Failed(doubt);
        return {status, body.Take(), {}};
    }

    const TrustedRoots& roots;
    const HttpTransportOptions& options;
    ProgressWatch watch;
    TlsConnection connection;
    std::string pending; // received, not yet read as head or body
    bool closed = false;
};

// The completion belongs to the host; an exception from it must not end the worker thread.
void Complete(HttpTransport::Completion& done, int status, std::string body, std::string reason)
{
    try {
        done(status, std::move(body), std::move(reason));
    } catch (...) {
    }
}

} // namespace

// [SECTION] Worker

struct SchannelTransport::Worker {
    struct Job {
        CurlRequest request;
        Completion done;
    };

    const HttpTransportOptions options;
    std::string rootsError;
    const TrustedRoots roots{options.caFile, rootsError};
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs; // guarded by mutex
    bool stopping = false; // guarded by mutex
    std::thread thread;

    explicit Worker(HttpTransportOptions given) : options(std::move(given)), thread([this] { Run(); }) {}

    ~Worker()
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_one();
        thread.join();
        for (Job& job : jobs)
            Complete(job.done, 0, {}, "transport shut down");
    }

    bool Add(Job& job)
    {
        {
            std::lock_guard lock(mutex);
            if (stopping)
                return false;
            jobs.push_back(std::move(job));
        }
        wake.notify_one();
        return true;
    }

    std::optional<Job> Next()
    {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this] { return stopping || !jobs.empty(); });
        if (stopping)
            return std::nullopt;
        Job job = std::move(jobs.front());
        jobs.pop_front();
        return job;
    }

    // Asked between the slices of every wait, so destruction ends a stuck exchange at once.
    std::string Stopping()
    {
        std::lock_guard lock(mutex);
        return stopping ? "transport shut down" : "";
    }

    Outcome Perform(const CurlRequest& request)
    {
        if (!rootsError.empty())
            return Failed(rootsError);
        try {
            return Exchange(roots, options, [this] { return Stopping(); }).Run(request);
        } catch (const std::exception& error) {
            return Failed(error.what());
        }
    }

    void Run()
    {
        while (std::optional<Job> job = Next()) {
            Outcome outcome = Perform(job->request);
            Complete(job->done, outcome.status, std::move(outcome.body), std::move(outcome.reason));
        }
    }
};

// [SECTION] SchannelTransport

SchannelTransport::SchannelTransport(HttpTransportOptions options)
    : worker(std::make_unique<Worker>(std::move(options)))
{
}

SchannelTransport::~SchannelTransport() = default;

void SchannelTransport::Send(CurlRequest request, Completion done)
{
    Worker::Job job{std::move(request), std::move(done)};
    if (!worker->Add(job))
        Complete(job.done, 0, {}, "transport shut down");
}

} // namespace devhost
