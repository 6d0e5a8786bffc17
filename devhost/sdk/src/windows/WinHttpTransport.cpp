// WinHTTP behind HttpTransport: one worker thread runs the requests one after another, each
// with synchronous WinHTTP calls, and calls the completions.
//
// Index
// [SECTION] Request parts: the target, the form body
// [SECTION] One exchange
// [SECTION] Worker
// [SECTION] WinHttpTransport
#include "orvane/host/WinHttpTransport.h"

#include <windows.h>

#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <fmt/format.h>

#include "ServerCertificate.h"
#include "../HttpReplyLimits.h"
#include "../UploadFile.h"

namespace devhost {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kConnectTimeout{30};
constexpr std::size_t kChunkBytes = 64 * 1024;

// [SECTION] Request parts: the target, the form body

std::wstring Wide(std::string_view text)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string Narrow(std::wstring_view text)
{
    int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
}

// Where a request goes: the URL's host (for the certificate and the Host header) and the
// address actually connected to, which a --connect-to entry may change.
struct Target {
    std::wstring host;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTPS_PORT;
    std::wstring pathAndQuery;
    std::wstring connectHost;
    INTERNET_PORT connectPort = INTERNET_DEFAULT_HTTPS_PORT;
};

// curl's CONNECT_TO: "HOST:PORT:ADDR:PORT", an empty field matching (or keeping) anything.
void ApplyConnectTo(Target& target, const std::vector<std::string>& entries)
{
    for (const std::string& entry : entries) {
        std::vector<std::string> fields;
        for (std::size_t start = 0, colon = 0; colon != std::string::npos; start = colon + 1) {
            colon = entry.find(':', start);
            fields.push_back(entry.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        }
        if (fields.size() != 4)
            continue;
        const bool hostMatches = fields[0].empty() || _wcsicmp(Wide(fields[0]).c_str(), target.host.c_str()) == 0;
        const bool portMatches = fields[1].empty() || std::stoul(fields[1]) == target.port;
        if (!hostMatches || !portMatches)
            continue;
        if (!fields[2].empty())
            target.connectHost = Wide(fields[2]);
        if (!fields[3].empty())
            target.connectPort = static_cast<INTERNET_PORT>(std::stoul(fields[3]));
        return;
    }
}

std::optional<Target> TargetOf(const std::string& url, const HttpTransportOptions& options, std::string& error)
{
    std::wstring wideUrl = Wide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) {
        error = fmt::format("cannot read the URL {}: Windows error {}", url, GetLastError());
        return std::nullopt;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTPS) {
        error = fmt::format("only https is allowed: {}", url);
        return std::nullopt;
    }
    Target target;
    target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    target.port = parts.nPort;
    target.pathAndQuery.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    target.pathAndQuery.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.pathAndQuery.empty())
        target.pathAndQuery = L"/";
    target.connectHost = target.host;
    target.connectPort = target.port;
    try {
        ApplyConnectTo(target, options.connectTo);
    } catch (const std::exception&) {
        error = "a --connect-to entry has a port that is not a number";
        return std::nullopt;
    }
    return target;
}

// A multipart/form-data body: text pieces and files, streamed in order.
struct FormBody {
    struct Piece {
        std::string text;
        std::unique_ptr<UploadFile> file; // sent instead of text when set
    };
    std::string boundary = "----devhost-form-boundary-7f3c9a1e5d2b";
    std::vector<Piece> pieces;

    std::uint64_t Size() const
    {
        std::uint64_t size = 0;
        for (const Piece& piece : pieces)
            size += piece.file ? piece.file->Size() : piece.text.size();
        return size;
    }
};

std::string PartHeader(const FormBody& body, const FormField& field, std::string_view fileName)
{
    std::string header = fmt::format("--{}\r\nContent-Disposition: form-data; name=\"{}\"", body.boundary, field.name);
    if (field.kind == FormField::kFile)
        header += fmt::format("; filename=\"{}\"\r\nContent-Type: application/octet-stream", fileName);
    return header + "\r\n\r\n";
}

// Returns an error text when the form cannot be built.
std::string BuildForm(FormBody& body, const std::vector<FormField>& fields)
{
    for (const FormField& field : fields) {
        if (field.kind == FormField::kText) {
            body.pieces.push_back({PartHeader(body, field, {}) + field.data + "\r\n", nullptr});
            continue;
        }
        if (field.kind != FormField::kFile)
            return fmt::format("form field \"{}\": unknown kind {}", field.name, field.kind);
        std::string error;
        std::unique_ptr<UploadFile> file = UploadFile::Open(field.data, error);
        if (!file)
            return fmt::format("form field \"{}\": {}", field.name, error);
        // The name after the last separator, as the form's narrow text has it (no conversion).
        std::string fileName = field.data.substr(field.data.find_last_of("/\\") + 1);
        body.pieces.push_back({PartHeader(body, field, fileName), nullptr});
        body.pieces.push_back({{}, std::move(file)});
        body.pieces.push_back({"\r\n", nullptr});
    }
    body.pieces.push_back({fmt::format("--{}--\r\n", body.boundary), nullptr});
    return {};
}

// [SECTION] One exchange

class Handle {
public:
    explicit Handle(HINTERNET handle = nullptr) : handle(handle) {}
    ~Handle()
    {
        if (handle != nullptr)
            WinHttpCloseHandle(handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET get() const { return handle; }

private:
    HINTERNET handle;
};

// The request in flight. The transport's destruction closes it, which ends a call blocked on
// it with an error; each handle is closed exactly once, by whichever side comes first.
class InFlight {
public:
    void Start(HINTERNET handle)
    {
        std::lock_guard lock(mutex);
        current = handle;
        if (cancelled)
            CloseCurrent();
    }
    void Finish(HINTERNET handle)
    {
        std::lock_guard lock(mutex);
        if (current == handle)
            CloseCurrent();
    }
    void Cancel()
    {
        std::lock_guard lock(mutex);
        cancelled = true;
        CloseCurrent();
    }
    bool Cancelled() const
    {
        std::lock_guard lock(mutex);
        return cancelled;
    }

private:
    void CloseCurrent()
    {
        if (current != nullptr)
            WinHttpCloseHandle(current);
        current = nullptr;
    }

    mutable std::mutex mutex;
    HINTERNET current = nullptr; // guarded by mutex
    bool cancelled = false; // guarded by mutex
};

struct Outcome {
    int status = 0;
    std::string body;
    std::string reason; // why the transfer failed, when status is 0
};

Outcome Failed(std::string reason)
{
    return {0, {}, std::move(reason)};
}

// The errors a transfer meets, in words; the number stays beside them for searching.
std::string_view ErrorWords(DWORD code)
{
    switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
        return "timed out";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return "the server's name does not resolve";
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
        return "cannot connect to the server";
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
        return "the connection was reset or closed";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        return "the server's reply is not valid HTTP";
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        return "the TLS handshake failed: the server's certificate or protocol was refused";
    case ERROR_WINHTTP_SECURE_FAILURE:
        return "the server's certificate was refused";
    case ERROR_WINHTTP_OPERATION_CANCELLED:
    case ERROR_INVALID_HANDLE:
        return "cancelled";
    default:
        return "Windows error";
    }
}

std::string WindowsError(std::string_view what)
{
    const DWORD code = GetLastError();
    return fmt::format("{}: {} ({})", what, ErrorWords(code), code);
}

// What every exchange of a transport shares. Held by each exchange's thread too, so that it
// outlives the transport when WinHTTP keeps an abandoned exchange's call waiting.
struct Session {
    explicit Session(HttpTransportOptions given) : options(std::move(given)) {}
    ~Session()
    {
        if (handle != nullptr)
            WinHttpCloseHandle(handle);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const HttpTransportOptions options;
    std::string rootsError;
    const TrustedRoots roots{options.caFile, rootsError};
    const HINTERNET handle = WinHttpOpen(L"devhost", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0);
};

class Transfer {
public:
    Transfer(const Session& session, ProgressWatch& watch)
        : session(session.handle), roots(session.roots), options(session.options), watch(watch)
    {
    }

    Outcome Run(const CurlRequest& request, InFlight& inFlight)
    {
        std::string error;
        std::optional<Target> target = TargetOf(request.url, options, error);
        if (!target)
            return Failed(error);
        FormBody form;
        if (!request.formFields.empty()) {
            if (error = BuildForm(form, request.formFields); !error.empty())
                return Failed(error);
        } else if (!request.body.empty()) {
            form.pieces.push_back({request.body, nullptr});
        }

        Handle connection(WinHttpConnect(session, target->connectHost.c_str(), target->connectPort, 0));
        if (connection.get() == nullptr)
            return Failed(WindowsError("cannot connect"));
        std::wstring verb = Wide(!request.verb.empty() ? request.verb : form.pieces.empty() ? "GET" : "POST");
        HINTERNET exchange = WinHttpOpenRequest(connection.get(), verb.c_str(), target->pathAndQuery.c_str(), nullptr,
                                                WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
        if (exchange == nullptr)
            return Failed(WindowsError("cannot open the request"));
        inFlight.Start(exchange);
        Outcome outcome = Run(exchange, request, *target, form);
        inFlight.Finish(exchange);
        return outcome;
    }

private:
    Outcome Run(HINTERNET exchange, const CurlRequest& request, const Target& target, FormBody& form)
    {
        if (std::string error = Configure(exchange); !error.empty())
            return Failed(error);
        if (std::string error = AddHeaders(exchange, request, target, form); !error.empty())
            return Failed(error);
        if (!WinHttpSendRequest(exchange, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                                static_cast<DWORD>(form.Size()), 0))
            return Failed(WindowsError("cannot send the request"));
        // The request line and headers are out (they carry nothing secret); no body byte goes
        // before the server has proved who it is.
        if (std::string error = CheckServer(exchange, target.host); !error.empty())
            return Failed(error);
        if (std::string error = SendBody(exchange, form); !error.empty())
            return Failed(error);
        return Receive(exchange);
    }

    // WinHTTP's own certificate checks see the connected address, not the name: CheckServer
    // takes their place. Redirects are not followed, as with curl by default.
    std::string Configure(HINTERNET exchange) const
    {
        DWORD security = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
        DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
        // The watch ends a stalled exchange; these only end the call of one it abandoned, later.
        const int stallMs = static_cast<int>(std::chrono::milliseconds(2 * options.lowSpeedTime).count());
        const int connectMs = static_cast<int>(std::chrono::milliseconds(kConnectTimeout).count());
        // Wine bounds the wait for the reply's headers only through this option.
        DWORD replyWaitMs = static_cast<DWORD>(stallMs);
        if (!WinHttpSetOption(exchange, WINHTTP_OPTION_SECURITY_FLAGS, &security, sizeof security)
            || !WinHttpSetOption(exchange, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects)
            || !WinHttpSetTimeouts(exchange, connectMs, connectMs, stallMs, stallMs)
            || !WinHttpSetOption(exchange, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &replyWaitMs, sizeof replyWaitMs))
            return WindowsError("cannot set the request's options");
        return {};
    }

    static std::string AddHeaders(HINTERNET exchange, const CurlRequest& request, const Target& target,
                                  const FormBody& form)
    {
        std::string headers;
        if (target.connectHost != target.host || target.connectPort != target.port) {
            std::string host = Narrow(target.host);
            headers += target.port == INTERNET_DEFAULT_HTTPS_PORT ? fmt::format("Host: {}\r\n", host)
                                                                  : fmt::format("Host: {}:{}\r\n", host, target.port);
        }
        if (!request.formFields.empty())
            headers += fmt::format("Content-Type: multipart/form-data; boundary={}\r\n", form.boundary);
        for (const auto& [name, value] : request.headers)
            headers += fmt::format("{}: {}\r\n", name, value);
        if (headers.empty())
            return {};
        std::wstring wide = Wide(headers);
        if (!WinHttpAddRequestHeaders(exchange, wide.c_str(), static_cast<DWORD>(wide.size()),
                                      WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
            return WindowsError("cannot add the request's headers");
        return {};
    }

    std::string CheckServer(HINTERNET exchange, const std::wstring& host) const
    {
        PCCERT_CONTEXT certificate = nullptr;
        DWORD size = sizeof certificate;
        if (!WinHttpQueryOption(exchange, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size)
            || certificate == nullptr)
            return WindowsError("no server certificate");
        std::string why = roots.Check(certificate, host);
        CertFreeCertificateContext(certificate);
        return why;
    }

    std::string Write(HINTERNET exchange, const char* data, std::size_t size)
    {
        while (size > 0) {
            DWORD written = 0;
            DWORD chunk = static_cast<DWORD>(std::min(size, kChunkBytes));
            if (!WinHttpWriteData(exchange, data, chunk, &written) || written == 0)
                return WindowsError("upload failed");
            data += written;
            size -= written;
            watch.Moved(written);
        }
        return {};
    }

    std::string SendBody(HINTERNET exchange, FormBody& form)
    {
        std::vector<char> buffer(kChunkBytes);
        for (FormBody::Piece& piece : form.pieces) {
            if (!piece.file) {
                if (std::string error = Write(exchange, piece.text.data(), piece.text.size()); !error.empty())
                    return error;
                continue;
            }
            for (std::uint64_t left = piece.file->Size(); left > 0;) {
                std::ptrdiff_t got = piece.file->Read(buffer.data(), std::min<std::uint64_t>(left, buffer.size()));
                if (got <= 0)
                    return "the upload file could not be read to its end";
                if (std::string error = Write(exchange, buffer.data(), static_cast<std::size_t>(got)); !error.empty())
                    return error;
                left -= static_cast<std::uint64_t>(got);
            }
        }
        return {};
    }

    static std::optional<std::wstring> Header(HINTERNET exchange, DWORD which)
    {
        DWORD size = 0;
        WinHttpQueryHeaders(exchange, which, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return std::nullopt;
        std::wstring value(size / sizeof(wchar_t), L'\0');
        if (!WinHttpQueryHeaders(exchange, which, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                                 WINHTTP_NO_HEADER_INDEX))
            return std::nullopt;
        value.resize(size / sizeof(wchar_t));
        return value;
    }

    // The final head, fed line by line to the checks both transports share.
    static std::string ReadHead(HINTERNET exchange, ReplyHead& head)
    {
        std::optional<std::wstring> raw = Header(exchange, WINHTTP_QUERY_RAW_HEADERS_CRLF);
        if (!raw)
            return WindowsError("the reply has no headers");
        const std::string text = Narrow(*raw);
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
            if (std::string why = head.Line(std::string_view(text).substr(start, end - start)); !why.empty())
                return why;
            start = end;
        }
        return head.Complete() ? std::string() : "the reply has no final status";
    }

    Outcome Receive(HINTERNET exchange)
    {
        if (!WinHttpReceiveResponse(exchange, nullptr))
            return Failed(WindowsError("no reply"));
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!WinHttpQueryHeaders(exchange, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
            return Failed(WindowsError("the reply has no status"));
        ReplyHead head;
        if (std::string why = ReadHead(exchange, head); !why.empty())
            return Failed(why);
        // Refused before a byte is read: it could never fit.
        if (head.ContentLength() > options.maxReplyBytes)
            return Failed(fmt::format("reply larger than {} bytes", options.maxReplyBytes));

        ReplyBody body(options.maxReplyBytes);
        std::vector<char> buffer(kChunkBytes);
        for (;;) {
            DWORD got = 0;
            if (!WinHttpReadData(exchange, buffer.data(), static_cast<DWORD>(buffer.size()), &got))
                return Failed(WindowsError("the reply could not be read"));
            if (got == 0)
                break;
            if (std::string why = body.Append(buffer.data(), got); !why.empty())
                return Failed(why);
            watch.Moved(got);
        }
        if (std::string doubt = head.CheckEnd(static_cast<int>(status), body.Size()); !doubt.empty())
            return Failed(doubt);
        return {static_cast<int>(status), body.Take(), {}};
    }

    HINTERNET session;
    const TrustedRoots& roots;
    const HttpTransportOptions& options;
    ProgressWatch& watch;
};

// One request on a thread of its own. Wine does not end a blocked WinHTTP call when its handle
// closes, so the worker never waits on the call itself: past a limit, or when the transport
// goes, it abandons the exchange, closes its handle and leaves the thread to end with the call.
class Exchange {
public:
    Exchange(std::shared_ptr<const Session> session, CurlRequest request)
        : session(std::move(session)), request(std::move(request)), watch(this->session->options)
    {
    }

    void Run()
    {
        Outcome result;
        try {
            result = Transfer(*session, watch).Run(request, inFlight);
        } catch (const std::exception& error) {
            result = Failed(error.what());
        }
        std::lock_guard lock(mutex);
        outcome = std::move(result);
        done = true;
        finished.notify_one();
    }

    // The outcome, or why the exchange was abandoned: the speed floor, the time limit, or
    // stopping() turning true.
    template <class Stopping>
    Outcome Await(Stopping stopping)
    {
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, std::chrono::milliseconds(100), [this] { return done; })) {
            std::string why = stopping() ? "transport shut down" : watch.Check();
            if (!why.empty()) {
                inFlight.Cancel();
                return Failed(why);
            }
        }
        return std::move(outcome);
    }

private:
    const std::shared_ptr<const Session> session;
    const CurlRequest request;
    ProgressWatch watch;
    InFlight inFlight;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false; // guarded by mutex
    Outcome outcome; // guarded by mutex
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

struct WinHttpTransport::Worker {
    struct Job {
        CurlRequest request;
        Completion done;
    };

    std::shared_ptr<const Session> session;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs; // guarded by mutex
    bool stopping = false; // guarded by mutex
    std::thread thread;

    explicit Worker(HttpTransportOptions options)
        : session(std::make_shared<const Session>(std::move(options))), thread([this] { Run(); })
    {
    }

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

    bool Stopping()
    {
        std::lock_guard lock(mutex);
        return stopping;
    }

    Outcome Perform(CurlRequest request)
    {
        if (!session->rootsError.empty())
            return Failed(session->rootsError);
        if (session->handle == nullptr)
            return Failed("WinHTTP could not be opened");
        auto exchange = std::make_shared<Exchange>(session, std::move(request));
        std::thread([exchange] { exchange->Run(); }).detach();
        return exchange->Await([this] { return Stopping(); });
    }

    void Run()
    {
        while (std::optional<Job> job = Next()) {
            Outcome outcome = Perform(std::move(job->request));
            Complete(job->done, outcome.status, std::move(outcome.body), std::move(outcome.reason));
        }
    }
};

// [SECTION] WinHttpTransport

WinHttpTransport::WinHttpTransport(HttpTransportOptions options)
    : worker(std::make_unique<Worker>(std::move(options)))
{
}

WinHttpTransport::~WinHttpTransport() = default;

void WinHttpTransport::Send(CurlRequest request, Completion done)
{
    Worker::Job job{std::move(request), std::move(done)};
    if (!worker->Add(job))
        Complete(job.done, 0, {}, "transport shut down");
}

} // namespace devhost
