// The host's HTTP facility: hands requests to the transport and runs each reply callable on the
// HTTP thread. Requests stay outstanding until their callable has run (or been dropped).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "TaskThread.h"
#include "orvane/HttpWrapper.h"
#include "orvane/host/HttpTransport.h"

namespace devhost {

class ConsoleOutput;
class PluginSession;

class HttpFacility {
public:
    using ReplyCallable = std::function<void(int status, char* data, std::size_t size)>;

    HttpFacility(std::unique_ptr<HttpTransport> transport, ConsoleOutput& output);
    ~HttpFacility(); // the transport goes first: it answers what is pending with status 0

    // owner null: a request sent outside any plugin callable; its callable is not guarded.
    void Send(PluginSession* owner, CurlRequest request, ReplyCallable reply);
    std::size_t Outstanding() const;
    // Outstanding requests whose answer has come: their callables wait for or are on the HTTP thread.
    std::size_t BeingHandled() const;
    std::uint64_t Sent() const;
    bool Settle(std::chrono::milliseconds timeout);
    // The plugin's reply callables are destroyed now; its replies are discarded.
    void Drop(const PluginSession& owner);
    HttpTransport& Transport() { return *transport; }

private:
    struct Request {
        PluginSession* owner;
        std::string url;
        ReplyCallable reply;
        bool answered = false;
    };

    void MarkAnswered(std::uint64_t number);
    void Deliver(std::uint64_t number, int status, std::string body, const std::string& reason);
    void RunPluginCallable(PluginSession* owner, std::function<void()>&& callable, const char* what);

    ConsoleOutput& output;
    mutable std::mutex mutex;
    std::condition_variable answered;
    std::map<std::uint64_t, Request> outstanding;
    std::uint64_t requestsSent = 0;

    TaskThread thread;
    std::unique_ptr<HttpTransport> transport; // after the thread: its completions post to it
};

} // namespace devhost
