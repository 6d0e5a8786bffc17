// What devhost --gui shows of the host's HTTP requests: each one's address, the bytes sent and
// received, its status and how long it took. A transport decorator records them on their way
// through; the requests pane reads copies from the UI thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orvane/host/HttpTransport.h"

struct RequestRecord {
    std::string url;
    std::uint64_t bytesSent = 0; // the body and the files of the form
    std::uint64_t bytesReceived = 0;
    bool answered = false;
    int status = 0; // once answered; 0: the transfer failed (reason says why)
    std::string reason;
    std::chrono::steady_clock::time_point started;
    std::chrono::milliseconds took{0}; // once answered
};

class RequestLog {
public:
    // A transport that sends through `inner` and records every request here. The log must
    // outlive it.
    std::unique_ptr<devhost::HttpTransport> Recording(std::unique_ptr<devhost::HttpTransport> inner);

    std::size_t Start(const CurlRequest& request);
    void Finish(std::size_t index, int status, std::size_t bytesReceived, const std::string& reason);
    // Copies the records into `copy` when they changed since `version`; returns whether it did.
    bool CopyIfChanged(std::vector<RequestRecord>& copy, std::uint64_t& version) const;

private:
    mutable std::mutex mutex;
    std::vector<RequestRecord> records;
    std::uint64_t changes = 0;
};
