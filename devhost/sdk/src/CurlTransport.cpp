// libcurl behind HttpTransport: easy handles are prepared on the caller's thread, then one
// worker thread drives them all through a curl multi handle and calls the completions.
#include "orvane/host/CurlTransport.h"

#include <curl/curl.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>

#include <fmt/format.h>

#include "HttpReplyLimits.h"
#include "UploadFile.h"

namespace devhost {
namespace {

constexpr long kConnectTimeoutSeconds = 30;

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A file part's content, read from the handle that was checked when the request was built.
struct UploadSource {
    std::unique_ptr<UploadFile> file;
    std::uint64_t position = 0;
};

// One request in flight, with everything curl points into while it runs.
struct Transfer {
    explicit Transfer(std::size_t maxReplyBytes) : reply(maxReplyBytes) {}

    CURL* easy = curl_easy_init();
    curl_mime* form = nullptr;
    curl_slist* headers = nullptr;
    curl_slist* connectTo = nullptr;
    std::vector<std::unique_ptr<UploadSource>> uploads;
    ReplyHead head;
    ReplyBody reply;
    std::string failure; // why a callback of ours stopped the transfer
    char errorText[CURL_ERROR_SIZE] = {};
    HttpTransport::Completion done;

    ~Transfer()
    {
        curl_easy_cleanup(easy);
        curl_mime_free(form);
        curl_slist_free_all(headers);
        curl_slist_free_all(connectTo);
    }
};

std::size_t ReceiveReply(char* data, std::size_t, std::size_t size, void* context)
{
    auto* transfer = static_cast<Transfer*>(context);
    transfer->reply.Announce(transfer->head.ContentLength());
    transfer->failure = transfer->reply.Append(data, size);
    return transfer->failure.empty() ? size : 0; // 0 makes curl fail the transfer
}

std::size_t ReceiveHeader(char* data, std::size_t, std::size_t size, void* context)
{
    auto* transfer = static_cast<Transfer*>(context);
    transfer->failure = transfer->head.Line(std::string_view(data, size));
    return transfer->failure.empty() ? size : 0; // 0 makes curl fail the transfer
}

std::size_t ReadUpload(char* buffer, std::size_t size, std::size_t count, void* context)
{
    auto* upload = static_cast<UploadSource*>(context);
    std::uint64_t left = upload->file->Size() - upload->position;
    std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(size * count, left));
    if (wanted == 0)
        return 0;
    std::ptrdiff_t got = upload->file->Read(buffer, wanted);
    if (got <= 0)
        return CURL_READFUNC_ABORT; // a read error, or the file shrank after its size was sent
    upload->position += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
}

int SeekUpload(void* context, curl_off_t offset, int origin)
{
    auto* upload = static_cast<UploadSource*>(context);
    if (origin != SEEK_SET || offset < 0 || !upload->file->Seek(static_cast<std::uint64_t>(offset)))
        return CURL_SEEKFUNC_CANTSEEK;
    upload->position = static_cast<std::uint64_t>(offset);
    return CURL_SEEKFUNC_OK;
}

// Returns an error text when the part cannot be built.
std::string AddFilePart(Transfer& transfer, curl_mimepart* part, const std::string& path)
{
    std::string error;
    auto upload = std::make_unique<UploadSource>();
    upload->file = UploadFile::Open(path, error);
    if (!upload->file)
        return error;
    curl_mime_data_cb(part, static_cast<curl_off_t>(upload->file->Size()), ReadUpload, SeekUpload, nullptr,
                      upload.get());
    // Cut from the form's own narrow text: no conversion that a code page's name could fail.
    curl_mime_filename(part, path.substr(path.find_last_of(kPathSeparators) + 1).c_str());
    curl_mime_type(part, "application/octet-stream");
    transfer.uploads.push_back(std::move(upload));
    return {};
}

std::string AddTextPart(curl_mimepart* part, const std::string& text)
{
    CURLcode result = curl_mime_data(part, text.data(), text.size());
    return result == CURLE_OK ? std::string() : curl_easy_strerror(result);
}

// Returns an error text when the form cannot be built.
std::string AddForm(Transfer& transfer, const std::vector<FormField>& fields)
{
    transfer.form = curl_mime_init(transfer.easy);
    for (const FormField& field : fields) {
        curl_mimepart* part = curl_mime_addpart(transfer.form);
        curl_mime_name(part, field.name.c_str());
        std::string error;
        if (field.kind == FormField::kFile)
            error = AddFilePart(transfer, part, field.data);
        else if (field.kind == FormField::kText)
            error = AddTextPart(part, field.data);
        else
            error = fmt::format("unknown kind {}", field.kind);
        if (!error.empty())
            return fmt::format("form field \"{}\": {}", field.name, error);
    }
    curl_easy_setopt(transfer.easy, CURLOPT_MIMEPOST, transfer.form);
    return {};
}

void AddSecurity(Transfer& transfer, const HttpTransportOptions& options)
{
    CURL* easy = transfer.easy;
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.caFile.empty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, options.caFile.string().c_str()); // narrow on Windows too
    for (const std::string& entry : options.connectTo)
        transfer.connectTo = curl_slist_append(transfer.connectTo, entry.c_str());
    if (transfer.connectTo)
        curl_easy_setopt(easy, CURLOPT_CONNECT_TO, transfer.connectTo);
}

void AddLimits(Transfer& transfer, const HttpTransportOptions& options)
{
    CURL* easy = transfer.easy;
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, options.lowSpeedBytesPerSecond);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.lowSpeedTime.count()));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(options.timeLimit.count()));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxReplyBytes));
}

// Returns an error text when the request cannot be built.
std::string Prepare(Transfer& transfer, const CurlRequest& request, const HttpTransportOptions& options)
{
    CURL* easy = transfer.easy;
    if (easy == nullptr)
        return "cannot create a curl handle";
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &transfer);
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.errorText);
    AddSecurity(transfer, options);
    AddLimits(transfer, options);

    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, ReceiveReply);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, ReceiveHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);

    for (const auto& [name, value] : request.headers)
        transfer.headers = curl_slist_append(transfer.headers, fmt::format("{}: {}", name, value).c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers);

    if (!request.formFields.empty()) {
        if (std::string error = AddForm(transfer, request.formFields); !error.empty())
            return error;
    } else if (!request.body.empty()) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, request.body.c_str());
    }
    if (!request.verb.empty())
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.verb.c_str());
    return {};
}

// The completion belongs to the host; an exception from it must not end the worker thread.
void Complete(HttpTransport::Completion& done, int status, std::string body, std::string reason)
{
    try {
        done(status, std::move(body), std::move(reason));
    } catch (...) {
    }
}

void Finish(Transfer& transfer, CURLcode result)
{
    if (result == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
        long version = 0;
        curl_easy_getinfo(transfer.easy, CURLINFO_HTTP_VERSION, &version);
        // HTTP/2 marks a body's end by its own framing.
        const bool framed = version >= CURL_HTTP_VERSION_2_0;
        if (std::string doubt = transfer.head.CheckEnd(static_cast<int>(status), transfer.reply.Size(), framed);
            !doubt.empty())
            return Complete(transfer.done, 0, {}, std::move(doubt));
        return Complete(transfer.done, static_cast<int>(status), transfer.reply.Take(), {});
    }
    // One wording whichever TLS library is beneath: curl's words for the code, then the detail.
    std::string reason = !transfer.failure.empty() ? transfer.failure
        : transfer.errorText[0] != '\0' ? fmt::format("{} ({})", curl_easy_strerror(result), transfer.errorText)
                                        : curl_easy_strerror(result);
    Complete(transfer.done, 0, {}, std::move(reason));
}

} // namespace

// [SECTION] Worker

struct CurlTransport::Worker {
    HttpTransportOptions options;
    CURLM* multi = curl_multi_init();
    std::mutex mutex;
    std::vector<std::unique_ptr<Transfer>> incoming; // guarded by mutex
    bool stopping = false; // guarded by mutex
    std::map<CURL*, std::unique_ptr<Transfer>> running; // worker thread only
    std::thread thread;

    explicit Worker(HttpTransportOptions options) : options(std::move(options)), thread([this] { Run(); }) {}

    ~Worker()
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        curl_multi_wakeup(multi);
        thread.join();
        curl_multi_cleanup(multi);
    }

    // Takes transfer, or leaves it with the caller and returns false once the worker is stopping.
    bool Add(std::unique_ptr<Transfer>& transfer)
    {
        {
            std::lock_guard lock(mutex);
            if (stopping)
                return false;
            incoming.push_back(std::move(transfer));
        }
        curl_multi_wakeup(multi);
        return true;
    }

    // Moves newly sent transfers into the multi handle; false when it is time to stop.
    bool TakeIncoming()
    {
        std::vector<std::unique_ptr<Transfer>> taken;
        {
            std::lock_guard lock(mutex);
            if (stopping)
                return false;
            taken.swap(incoming);
        }
        for (std::unique_ptr<Transfer>& transfer : taken) {
            curl_multi_add_handle(multi, transfer->easy);
            running.emplace(transfer->easy, std::move(transfer));
        }
        return true;
    }

    void FinishCompleted()
    {
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            auto found = running.find(message->easy_handle);
            std::unique_ptr<Transfer> transfer = std::move(found->second);
            running.erase(found);
            curl_multi_remove_handle(multi, transfer->easy);
            Finish(*transfer, message->data.result);
        }
    }

    void FailAll()
    {
        for (auto& [easy, transfer] : running) {
            curl_multi_remove_handle(multi, easy);
            Complete(transfer->done, 0, {}, "transport shut down");
        }
        running.clear();
        std::lock_guard lock(mutex);
        for (std::unique_ptr<Transfer>& transfer : incoming)
            Complete(transfer->done, 0, {}, "transport shut down");
        incoming.clear();
    }

    void Run()
    {
        while (TakeIncoming()) {
            int active = 0;
            curl_multi_perform(multi, &active);
            FinishCompleted();
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        FailAll();
    }
};

// [SECTION] CurlTransport

CurlTransport::CurlTransport(HttpTransportOptions options)
{
    InitCurlOnce();
    worker = std::make_unique<Worker>(std::move(options));
}

CurlTransport::~CurlTransport() = default;

void CurlTransport::Send(CurlRequest request, Completion done)
{
    auto transfer = std::make_unique<Transfer>(worker->options.maxReplyBytes);
    if (std::string error = Prepare(*transfer, request, worker->options); !error.empty())
        return Complete(done, 0, {}, std::move(error));
    transfer->done = std::move(done);
    if (!worker->Add(transfer))
        Complete(transfer->done, 0, {}, "transport shut down");
}

} // namespace devhost
