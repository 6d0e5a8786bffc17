#include "RequestLog.h"

#include <exception>
#include <filesystem>
#include <system_error>

namespace {

class LoggingTransport : public devhost::HttpTransport {
public:
    LoggingTransport(RequestLog& log, std::unique_ptr<devhost::HttpTransport> inner)
        : log(log), inner(std::move(inner))
    {
    }

    void Send(CurlRequest request, Completion done) override
    {
        const std::size_t index = log.Start(request);
        // The completion may come after this transport is gone; the log outlives both.
        auto finish = [&log = log, index, done = std::move(done)](int status, std::string body, std::string reason) {
            log.Finish(index, status, body.size(), reason);
            done(status, std::move(body), std::move(reason));
        };
        try {
            inner->Send(std::move(request), std::move(finish));
        } catch (const std::exception& error) {
            log.Finish(index, 0, 0, error.what()); // the host answers it with status 0
            throw;
        }
    }

private:
    RequestLog& log;
    std::unique_ptr<devhost::HttpTransport> inner;
};

// The bytes the transport will send: the body, and each file part's file as it is now.
std::uint64_t BytesToSend(const CurlRequest& request)
{
    std::uint64_t bytes = request.body.size();
    for (const FormField& field : request.formFields) {
        if (field.kind != FormField::kFile) {
            bytes += field.data.size();
            continue;
        }
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(field.data, error);
        bytes += error ? 0 : size;
    }
    return bytes;
}

} // namespace

std::unique_ptr<devhost::HttpTransport> RequestLog::Recording(std::unique_ptr<devhost::HttpTransport> inner)
{
    return std::make_unique<LoggingTransport>(*this, std::move(inner));
}

std::size_t RequestLog::Start(const CurlRequest& request)
{
    RequestRecord record;
    record.url = request.url;
    record.bytesSent = BytesToSend(request);
    record.started = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex);
    records.push_back(std::move(record));
    ++changes;
    return records.size() - 1;
}

void RequestLog::Finish(std::size_t index, int status, std::size_t bytesReceived, const std::string& reason)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex);
    RequestRecord& record = records.at(index);
    record.answered = true;
    record.status = status;
    record.bytesReceived = bytesReceived;
    record.reason = reason;
    record.took = std::chrono::duration_cast<std::chrono::milliseconds>(now - record.started);
    ++changes;
}

bool RequestLog::CopyIfChanged(std::vector<RequestRecord>& copy, std::uint64_t& version) const
{
    std::lock_guard lock(mutex);
    if (version == changes)
        return false;
    copy = records;
    version = changes;
    return true;
}
