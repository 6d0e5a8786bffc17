// The requests pane of devhost --gui: every HTTP request the plugin handed the host, newest
// first, with its status, the bytes sent and received, and how long it took.
#pragma once

#include <cstdint>
#include <vector>

#include "RequestLog.h"

class RequestsPane {
public:
    explicit RequestsPane(const RequestLog& log) : log(log) {}

    void Draw(); // on the UI thread, between NewFrame and Render

private:
    void DrawTable();

    const RequestLog& log;
    std::vector<RequestRecord> records; // the log's records as of the last change
    std::uint64_t version = 0;
};
