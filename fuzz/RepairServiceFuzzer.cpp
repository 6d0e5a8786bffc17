// The stand-in repair service's request and upload handling, over its real HTTPS port. An input
// is either raw bytes sent as the whole request, or the parts of a well-formed upload. Every
// request gets a well-formed answer or a closed connection, the service keeps serving, and an
// upload is answered as promised: its bytes back unchanged (no repair command), 400 for an empty
// or missing part "file", 413 past the size limit.
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "FuzzCheck.h"
#include "RepairService.h"
#include "support/TempDir.h"

namespace {

constexpr std::size_t kMaxUploadBytes = 4096;
constexpr char kBoundary[] = "----ravento-fuzz-7d1c3b";

struct Service {
    Service() : service(Options(dir)) { port = StartWithoutTimerSignal(); }

    static repairservice::ServiceOptions Options(const testing_support::TempDir& dir)
    {
        repairservice::ServiceOptions options;
        options.tls = repairservice::MakeSelfSignedCertificate(dir.Path(), "repair.ravento.test");
        options.uploadLimit = SIZE_MAX; // the rate limit would answer every later input with 429
        options.maxUploadBytes = kMaxUploadBytes;
        return options;
    }

    // libFuzzer's timer (-timeout) raises SIGALRM in the process. The service's threads inherit
    // the signal mask of the thread that starts them, so with the signal blocked here they never
    // see it, as the real program's threads never do; it lands on the fuzzing thread alone.
    int StartWithoutTimerSignal()
    {
        sigset_t timer;
        sigset_t previous;
        sigemptyset(&timer);
        sigaddset(&timer, SIGALRM);
        pthread_sigmask(SIG_BLOCK, &timer, &previous);
        const int started = service.Start(0);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return started;
    }

    testing_support::TempDir dir;
    repairservice::RepairService service;
    int port = 0;
};

Service& TheService()
{
    static Service service;
    return service;
}

// The timer's SIGALRM interrupts the fuzzing thread's blocking calls. The client below retries
// every interrupted call, so a broken property is the service's doing, never the client's.

// Connects to the service; an interrupted connect goes on in the background and is waited for.
bool Connect(int socket, const sockaddr_in& address)
{
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    if (errno != EINTR)
        return false;
    pollfd writable{socket, POLLOUT, 0};
    int ready = 0;
    while ((ready = ::poll(&writable, 1, 20'000)) < 0 && errno == EINTR) {
    }
    int error = 0;
    socklen_t size = sizeof error;
    return ready == 1 && ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

// Runs one blocking OpenSSL call (SSL_connect, SSL_read, SSL_write) until no signal cuts it short.
template <typename Call>
int Uninterrupted(SSL* tls, Call call)
{
    for (;;) {
        errno = 0;
        const int result = call();
        if (result > 0)
            return result;
        const int error = SSL_get_error(tls, result);
        const bool interrupted = errno == EINTR
            && (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_SYSCALL);
        if (!interrupted)
            return result;
    }
}

// Sends request over one TLS connection, ends the sending side and returns everything the
// service answers until it closes.
std::string Exchange(const std::string& request)
{
    static SSL_CTX* context = [] {
        SSL_CTX* made = SSL_CTX_new(TLS_client_method());
        SSL_CTX_load_verify_locations(made, (TheService().dir.Path() / "certificate.pem").c_str(), nullptr);
        SSL_CTX_set_verify(made, SSL_VERIFY_PEER, nullptr);
        return made;
    }();

    int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    FUZZ_CHECK(socket >= 0, "no socket");
    timeval patience{20, 0};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(TheService().port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FUZZ_CHECK(Connect(socket, address), fmt::format("the service no longer accepts connections (errno {})", errno));

    SSL* tls = SSL_new(context);
    SSL_set_fd(tls, socket);
    const int handshake = Uninterrupted(tls, [&] { return SSL_connect(tls); });
    FUZZ_CHECK(handshake == 1,
               fmt::format("the TLS handshake with the service failed: {} (SSL error {}, errno {})",
                           ERR_error_string(ERR_get_error(), nullptr), SSL_get_error(tls, handshake), errno));
    // The service may answer and close before it has read everything; what it did not read is
    // of no interest, so a failed write simply ends the sending.
    for (std::size_t sent = 0; sent < request.size();) {
        const int chunk = static_cast<int>(std::min<std::size_t>(request.size() - sent, 1 << 16));
        const int written = Uninterrupted(tls, [&] { return SSL_write(tls, request.data() + sent, chunk); });
        if (written <= 0)
            break;
        sent += static_cast<std::size_t>(written);
    }
    errno = 0;
    while (SSL_shutdown(tls) < 0 && errno == EINTR)
        errno = 0;
    ::shutdown(socket, SHUT_WR);

    std::string answer;
    char buffer[1 << 14];
    for (;;) {
        const int read = Uninterrupted(tls, [&] { return SSL_read(tls, buffer, sizeof buffer); });
        if (read <= 0) {
            FUZZ_CHECK(errno != EAGAIN && errno != EWOULDBLOCK, "no answer within 20 seconds");
            break;
        }
        answer.append(buffer, static_cast<std::size_t>(read));
    }
    SSL_free(tls);
    ::close(socket);
    ERR_clear_error();
    return answer;
}

struct Answer {
    int status = 0;
    std::string body;
};

// The status and body of the whole HTTP/1.1 answer with a Content-Length at the start of text;
// nothing otherwise. rest, when given, receives what follows it; without it nothing may follow.
std::optional<Answer> ParseAnswer(std::string_view text, std::string_view* rest = nullptr)
{
    int status = 0;
    if (std::sscanf(std::string(text.substr(0, 16)).c_str(), "HTTP/1.1 %3d ", &status) != 1 || status < 100
        || status > 599)
        return std::nullopt;
    std::size_t headersEnd = text.find("\r\n\r\n");
    if (headersEnd == std::string::npos)
        return std::nullopt;
    std::string_view headers = text.substr(0, headersEnd);
    std::size_t length = headers.find("\r\nContent-Length: ");
    if (length == std::string::npos)
        return std::nullopt;
    std::size_t bodySize = std::stoul(std::string(headers.substr(length + 18)));
    std::string_view after = text.substr(headersEnd + 4);
    if (after.size() < bodySize || (rest == nullptr && after.size() != bodySize))
        return std::nullopt;
    if (rest != nullptr)
        *rest = after.substr(bodySize);
    return Answer{status, std::string(after.substr(0, bodySize))};
}

// Whether text is whole answers back to back: bytes a client sends after one request are read
// as the next, and each gets its own answer.
bool AreWholeAnswers(std::string_view text)
{
    while (!text.empty()) {
        if (!ParseAnswer(text, &text))
            return false;
    }
    return true;
}

std::string Upload(const std::string& partName, const std::string& fileName, const std::string& content)
{
    std::string body = fmt::format("--{}\r\nContent-Disposition: form-data; name=\"{}\"; filename=\"{}\"\r\n"
                                   "Content-Type: application/octet-stream\r\n\r\n{}\r\n--{}--\r\n",
                                   kBoundary, partName, fileName, content, kBoundary);
    return fmt::format("POST /api/ravento HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; "
                       "boundary={}\r\nContent-Length: {}\r\n\r\n{}",
                       kBoundary, body.size(), body);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool()) {
        const std::string request = input.ConsumeRemainingBytesAsString();
        const std::string answer = Exchange(request);
        FUZZ_CHECK(AreWholeAnswers(answer), fmt::format("request {:?} got {:?}", request, answer));
        return 0;
    }

    const bool filePart = input.ConsumeProbability<float>() < 0.9f;
    const std::string fileName = input.ConsumeBool() ? "R.replay" : input.ConsumeRandomLengthString(32);
    const std::string content = input.ConsumeRemainingBytesAsString();
    const std::string request = Upload(filePart ? "file" : "other", fileName, content);
    const std::string text = Exchange(request);
    const std::optional<Answer> answer = ParseAnswer(text);
    FUZZ_CHECK(answer, fmt::format("upload {:?} got {:?}", request, text));

    // The body of the whole request decides 413, before any part is looked at.
    const std::size_t bodySize = request.size() - request.find("\r\n\r\n") - 4;
    const bool wellFormed = fileName.find_first_of(std::string_view("\"\r\n\0", 4)) == std::string::npos
        && content.find(kBoundary) == std::string::npos;
    const std::string story = fmt::format("upload {:?} got {:?}", request, text);
    if (bodySize > kMaxUploadBytes)
        FUZZ_CHECK(answer->status == 413, story);
    else if (!wellFormed)
        FUZZ_CHECK(answer->status == 200 || answer->status == 400, story); // the form itself is broken
    else if (!filePart || content.empty())
        FUZZ_CHECK(answer->status == 400, story);
    else
        FUZZ_CHECK(answer->status == 200 && answer->body == content, story);
    return 0;
}
