// The host's HTTP facility: one request out, one reply callback back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "orvane/SdkApi.h"

// One part of a multipart form.
struct FormField {
    static constexpr std::int32_t kText = 0; // data is the part's content
    static constexpr std::int32_t kFile = 1; // data names a file whose content the host sends

    std::int32_t kind = kText;
    std::string data;
    std::string name;
};

struct CurlRequest {
    std::string url;
    std::string verb; // empty: POST when there are form fields or a body, else GET
    std::map<std::string, std::string> headers;
    std::string body;
    std::vector<FormField> formFields;
    // Upload progress: bytes sent so far, bytes to send in all. Part of the record's layout;
    // this host never calls it.
    std::function<void(std::uint64_t sent, std::uint64_t total)> auxCallback;
};

class ORVANE_SDK_API HttpWrapper {
public:
    // Sends the request and later calls callback exactly once, on the host's HTTP thread, with
    // the HTTP status (0 when the transfer failed) and the reply bytes, valid during the call.
    static void SendCurlRequest(CurlRequest request,
                                std::function<void(int status, char* data, std::size_t size)> callback);
};
