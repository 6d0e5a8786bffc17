#include "orvane/host/RecordingTransport.h"

namespace devhost {

HttpTransport::~HttpTransport() = default;

RecordingTransport::RecordingTransport(Answer defaultAnswer) : defaultAnswer(std::move(defaultAnswer)) {}

RecordingTransport::~RecordingTransport()
{
    std::vector<Pending> unanswered;
    {
        std::lock_guard lock(mutex);
        unanswered.swap(pending);
    }
    for (Pending& request : unanswered)
        request.done(0, {}, "the transport was shut down");
}

void RecordingTransport::Send(CurlRequest request, Completion done)
{
    std::optional<Answer> answer;
    {
        std::lock_guard lock(mutex);
        sent.push_back(request);
        answer = defaultAnswer;
        if (!answer)
            pending.push_back({std::move(request), std::move(done)});
    }
    // Answered outside the lock: the completion may send the next request at once.
    if (answer)
        done(answer->status, answer->body, answer->status == 0 ? "no answer configured" : "");
}

std::vector<CurlRequest> RecordingTransport::Requests() const
{
    std::lock_guard lock(mutex);
    return sent;
}

std::size_t RecordingTransport::PendingCount() const
{
    std::lock_guard lock(mutex);
    return pending.size();
}

bool RecordingTransport::AnswerNext(int status, std::string body)
{
    Pending oldest;
    {
        std::lock_guard lock(mutex);
        if (pending.empty())
            return false;
        oldest = std::move(pending.front());
        pending.erase(pending.begin());
    }
    oldest.done(status, std::move(body), status == 0 ? "the test failed the transfer" : "");
    return true;
}

} // namespace devhost
