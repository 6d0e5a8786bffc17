// A transport that records every request and answers only when a test says so.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "orvane/host/HttpTransport.h"

namespace devhost {

class ORVANE_SDK_API RecordingTransport : public HttpTransport {
public:
    // With a default answer every request is answered at once with it, like a trivial service.
    struct Answer {
        int status = 200;
        std::string body;
    };

    RecordingTransport() = default;
    explicit RecordingTransport(Answer defaultAnswer);
    ~RecordingTransport() override; // answers what is still pending with status 0

    void Send(CurlRequest request, Completion done) override;

    std::vector<CurlRequest> Requests() const; // every request, in the order sent
    std::size_t PendingCount() const;
    // Answers the oldest pending request. Returns false when none is pending.
    bool AnswerNext(int status, std::string body = {});

private:
    struct Pending {
        CurlRequest request;
        Completion done;
    };

    mutable std::mutex mutex;
    std::optional<Answer> defaultAnswer;
    std::vector<CurlRequest> sent;
    std::vector<Pending> pending;
};

} // namespace devhost
