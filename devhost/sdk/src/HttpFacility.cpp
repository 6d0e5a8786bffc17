#include "HttpFacility.h"

#include <algorithm>
#include <exception>

#include <fmt/format.h>

#include "ConsoleOutput.h"
#include "PluginSession.h"
#include "orvane/host/RecordingTransport.h"

namespace devhost {

HttpFacility::HttpFacility(std::unique_ptr<HttpTransport> transport, ConsoleOutput& output)
    : output(output), transport(transport ? std::move(transport) : std::make_unique<RecordingTransport>())
{
}

HttpFacility::~HttpFacility()
{
    transport.reset();
}

void HttpFacility::Send(PluginSession* owner, CurlRequest request, ReplyCallable reply)
{
    // The host reports no upload progress. A progress callable dies here, inside the plugin's
    // own callable where its code is surely loaded, so no transport outlives the module with it.
    request.auxCallback = nullptr;
    std::uint64_t number = 0;
    {
        std::lock_guard lock(mutex);
        number = ++requestsSent;
        outstanding[number] = {owner, request.url, std::move(reply)};
    }
    auto done = [this, number](int status, std::string body, std::string reason) {
        MarkAnswered(number);
        thread.Post([this, number, status, body = std::move(body), reason = std::move(reason)]() mutable {
            Deliver(number, status, std::move(body), reason);
        });
    };
    try {
        transport->Send(std::move(request), done);
    } catch (const std::exception& error) {
        done(0, {}, error.what());
    }
}

void HttpFacility::MarkAnswered(std::uint64_t number)
{
    std::lock_guard lock(mutex);
    auto found = outstanding.find(number);
    if (found != outstanding.end())
        found->second.answered = true;
}

void HttpFacility::Deliver(std::uint64_t number, int status, std::string body, const std::string& reason)
{
    Request request;
    {
        std::lock_guard lock(mutex);
        auto found = outstanding.find(number);
        if (found == outstanding.end())
            return;
        // The entry stays (emptied) until the callable has run, so Settle waits for it.
        request = std::move(found->second);
        found->second = {};
        found->second.answered = true;
        if (request.owner && request.reply)
            request.owner->Enter();
    }
    if (status == 0)
        output.HostLine(fmt::format("HTTP request to {} failed: {}", request.url, reason));
    if (request.reply) {
        // The callable dies inside the guarded run: its code belongs to the plugin.
        RunPluginCallable(
            request.owner,
            [reply = std::move(request.reply), status, &body] { reply(status, body.data(), body.size()); },
            "reply callable");
    }
    std::lock_guard lock(mutex);
    outstanding.erase(number);
    answered.notify_all();
}

void HttpFacility::RunPluginCallable(PluginSession* owner, std::function<void()>&& callable, const char* what)
{
    if (owner) {
        owner->RunEntered(std::move(callable), what);
        return;
    }
    output.RunContained(what, callable);
}

std::size_t HttpFacility::Outstanding() const
{
    std::lock_guard lock(mutex);
    return outstanding.size();
}

std::size_t HttpFacility::BeingHandled() const
{
    std::lock_guard lock(mutex);
    return static_cast<std::size_t>(std::count_if(outstanding.begin(), outstanding.end(),
                                                  [](const auto& entry) { return entry.second.answered; }));
}

std::uint64_t HttpFacility::Sent() const
{
    std::lock_guard lock(mutex);
    return requestsSent;
}

bool HttpFacility::Settle(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex);
    return answered.wait_for(lock, timeout, [this] { return outstanding.empty(); });
}

void HttpFacility::Drop(const PluginSession& owner)
{
    std::lock_guard lock(mutex);
    for (auto& [number, request] : outstanding) {
        if (request.owner != &owner)
            continue;
        request.reply = nullptr;
    }
}

} // namespace devhost
