// libcurl behind HttpTransport: easy handles are prepared on the caller's thread, then one
// worker thread drives them all through a curl multi handle and calls the completions.
#include "orvane/host/CurlTransport.h"

#include <curl/curl.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include <fmt/format.h>

namespace devhost {
namespace {

constexpr long kConnectTimeoutSeconds = 30;
// A transfer that moves less than one byte per second for a minute has stalled.
constexpr long kStallSeconds = 60;

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One request in flight, with everything curl points into while it runs.
struct Transfer {
    CURL* easy = curl_easy_init();
    curl_mime* form = nullptr;
    curl_slist* headers = nullptr;
    curl_slist* connectTo = nullptr;
    std::string reply;
    std::size_t maxReplyBytes = 0;
    bool replyTooLarge = false;
    char errorText[CURL_ERROR_SIZE] = {};
    std::function<void(std::uint64_t, std::uint64_t)> progress;
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
    if (transfer->reply.size() + size > transfer->maxReplyBytes) {
        transfer->replyTooLarge = true;
        return 0;  // makes curl fail the transfer
    }
    transfer->reply.append(data, size);
    return size;
}

int ReportProgress(void* context, curl_off_t, curl_off_t, curl_off_t uploadTotal, curl_off_t uploaded)
{
    auto* transfer = static_cast<Transfer*>(context);
    transfer->progress(static_cast<std::uint64_t>(uploaded), static_cast<std::uint64_t>(uploadTotal));
    return 0;
}

// Returns an error text when the form cannot be built.
std::string AddForm(Transfer& transfer, const std::vector<FormField>& fields)
{
    transfer.form = curl_mime_init(transfer.easy);
    for (const FormField& field : fields) {
        curl_mimepart* part = curl_mime_addpart(transfer.form);
        curl_mime_name(part, field.name.c_str());
        CURLcode result = CURLE_OK;
        if (field.kind == FormField::kFile)
            result = curl_mime_filedata(part, field.data.c_str());  // streamed from disk
        else if (field.kind == FormField::kText)
            result = curl_mime_data(part, field.data.data(), field.data.size());
        else
            return fmt::format("form field \"{}\" has unknown kind {}", field.name, field.kind);
        if (result != CURLE_OK)
            return fmt::format("form field \"{}\": {}", field.name, curl_easy_strerror(result));
    }
    curl_easy_setopt(transfer.easy, CURLOPT_MIMEPOST, transfer.form);
    return {};
}

void AddSecurity(Transfer& transfer, const CurlTransportOptions& options)
{
    CURL* easy = transfer.easy;
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.caFile.empty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, options.caFile.c_str());
    for (const std::string& entry : options.connectTo)
        transfer.connectTo = curl_slist_append(transfer.connectTo, entry.c_str());
    if (transfer.connectTo)
        curl_easy_setopt(easy, CURLOPT_CONNECT_TO, transfer.connectTo);
}

// Returns an error text when the request cannot be built.
std::string Prepare(Transfer& transfer, CurlRequest& request, const CurlTransportOptions& options)
{
    CURL* easy = transfer.easy;
    if (easy == nullptr)
        return "cannot create a curl handle";
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &transfer);
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.errorText);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    AddSecurity(transfer, options);

    transfer.maxReplyBytes = options.maxReplyBytes;
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxReplyBytes));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, ReceiveReply);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);

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

    if (request.auxCallback) {
        transfer.progress = std::move(request.auxCallback);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, ReportProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    }
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
        return Complete(transfer.done, static_cast<int>(status), std::move(transfer.reply), {});
    }
    std::string reason = transfer.replyTooLarge ? fmt::format("reply larger than {} bytes", transfer.maxReplyBytes)
                         : transfer.errorText[0] != '\0' ? transfer.errorText
                                                         : curl_easy_strerror(result);
    Complete(transfer.done, 0, {}, std::move(reason));
}

} // namespace

// [SECTION] Worker

struct CurlTransport::Worker {
    CurlTransportOptions options;
    CURLM* multi = curl_multi_init();
    std::mutex mutex;
    std::vector<std::unique_ptr<Transfer>> incoming;  // guarded by mutex
    bool stopping = false;                            // guarded by mutex
    std::map<CURL*, std::unique_ptr<Transfer>> running;  // worker thread only
    std::thread thread;

    explicit Worker(CurlTransportOptions options) : options(std::move(options)), thread([this] { Run(); }) {}

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

CurlTransport::CurlTransport(CurlTransportOptions options)
{
    InitCurlOnce();
    worker = std::make_unique<Worker>(std::move(options));
}

CurlTransport::~CurlTransport() = default;

void CurlTransport::Send(CurlRequest request, Completion done)
{
    auto transfer = std::make_unique<Transfer>();
    if (std::string error = Prepare(*transfer, request, worker->options); !error.empty())
        return Complete(done, 0, {}, std::move(error));
    transfer->done = std::move(done);
    if (!worker->Add(transfer))
        Complete(transfer->done, 0, {}, "transport shut down");
}

} // namespace devhost
