#include "HttpRequest.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include <fmt/format.h>

namespace devhost {
namespace {

bool SameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::optional<std::uint16_t> PortNumber(std::string_view text)
{
    unsigned port = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || port == 0 || port > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

// curl's CONNECT_TO: "HOST:PORT:ADDR:PORT", an empty field matching (or keeping) anything.
std::string ApplyConnectTo(Target& target, const std::vector<std::string>& entries)
{
    for (const std::string& entry : entries) {
        std::vector<std::string> fields;
        for (std::size_t start = 0, colon = 0; colon != std::string::npos; start = colon + 1) {
            colon = entry.find(':', start);
            fields.push_back(entry.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        }
        if (fields.size() != 4)
            continue;
        const std::optional<std::uint16_t> port = fields[1].empty() ? target.port : PortNumber(fields[1]);
        const std::optional<std::uint16_t> connectPort = fields[3].empty() ? target.connectPort : PortNumber(fields[3]);
        if (!port || !connectPort)
            return "a --connect-to entry has a port that is not a number";
        if ((!fields[0].empty() && !SameName(fields[0], target.host)) || *port != target.port)
            continue;
        if (!fields[2].empty())
            target.connectHost = fields[2];
        target.connectPort = *connectPort;
        return {};
    }
    return {};
}

// "host", "host:port", "[v6]" or "[v6]:port".
bool ReadAuthority(std::string_view authority, Target& target)
{
    authority = authority.substr(authority.find('@') + 1);
    std::size_t hostEnd = authority.find(':');
    std::size_t portAt = hostEnd;
    if (!authority.empty() && authority.front() == '[') {
        hostEnd = authority.find(']');
        if (hostEnd == std::string_view::npos)
            return false;
        target.host = authority.substr(1, hostEnd - 1);
        portAt = authority.find(':', hostEnd);
    } else {
        target.host = authority.substr(0, hostEnd);
    }
    if (portAt != std::string_view::npos) {
        std::optional<std::uint16_t> port = PortNumber(authority.substr(portAt + 1));
        if (!port)
            return false;
        target.port = *port;
    }
    return !target.host.empty();
}

std::string PartHeader(const RequestBody& body, const FormField& field, std::string_view fileName)
{
    std::string header = fmt::format("--{}\r\nContent-Disposition: form-data; name=\"{}\"", body.boundary, field.name);
    if (field.kind == FormField::kFile)
        header += fmt::format("; filename=\"{}\"\r\nContent-Type: application/octet-stream", fileName);
    return header + "\r\n\r\n";
}

std::string BuildForm(RequestBody& body, const std::vector<FormField>& fields)
{
    for (const FormField& field : fields) {
        if (field.kind == FormField::kText) {
            body.pieces.push_back({PartHeader(body, field, {}) + field.data + "\r\n", nullptr});
            continue;
        }
        if (field.kind != FormField::kFile)
            return fmt::format("form field \"{}\": unknown kind {}", field.name, field.kind);
        std::string error;
        std::unique_ptr<UploadFile> file = UploadFile::Open(field.data, error);
        if (!file)
            return fmt::format("form field \"{}\": {}", field.name, error);
        // The name after the last separator, as the form's narrow text has it (no conversion).
        std::string fileName = field.data.substr(field.data.find_last_of("/\\") + 1);
        body.pieces.push_back({PartHeader(body, field, fileName), nullptr});
        body.pieces.push_back({{}, std::move(file)});
        body.pieces.push_back({"\r\n", nullptr});
    }
    body.pieces.push_back({fmt::format("--{}--\r\n", body.boundary), nullptr});
    return {};
}

} // namespace

std::optional<Target> TargetOf(const std::string& url, const HttpTransportOptions& options, std::string& error)
{
    constexpr std::string_view kScheme = "https://";
    if (url.size() < kScheme.size() || !SameName(std::string_view(url).substr(0, kScheme.size()), kScheme)) {
        error = fmt::format("only https is allowed: {}", url);
        return std::nullopt;
    }
    const std::string_view rest = std::string_view(url).substr(kScheme.size(), url.find('#') - kScheme.size());
    const std::size_t pathAt = std::min(rest.find('/'), rest.find('?'));
    Target target;
    if (!ReadAuthority(rest.substr(0, pathAt), target)) {
        error = fmt::format("cannot read the URL {}", url);
        return std::nullopt;
    }
    target.pathAndQuery = pathAt == std::string_view::npos ? "/" : std::string(rest.substr(pathAt));
    if (target.pathAndQuery.front() == '?')
        target.pathAndQuery.insert(0, "/");
    target.connectHost = target.host;
    target.connectPort = target.port;
    if (error = ApplyConnectTo(target, options.connectTo); !error.empty())
        return std::nullopt;
    return target;
}

std::uint64_t RequestBody::Size() const
{
    std::uint64_t size = 0;
    for (const Piece& piece : pieces)
        size += piece.file ? piece.file->Size() : piece.text.size();
    return size;
}

std::string BuildBody(RequestBody& body, const CurlRequest& request)
{
    if (!request.formFields.empty())
        return BuildForm(body, request.formFields);
    if (!request.body.empty())
        body.pieces.push_back({request.body, nullptr});
    return {};
}

// The request's own headers take the place of the defaults of the same name; the connection
// closes after the reply, which is read to its announced end only.
std::string RequestHead(const CurlRequest& request, const Target& target, const RequestBody& body)
{
    const std::string verb = !request.verb.empty() ? request.verb : body.pieces.empty() ? "GET" : "POST";
    const std::string host = target.host.find(':') != std::string::npos ? "[" + target.host + "]" : target.host;
    std::vector<std::pair<std::string, std::string>> fields = {
        {"Host", target.port == 443 ? host : fmt::format("{}:{}", host, target.port)},
        {"User-Agent", "devhost"},
        {"Accept", "*/*"},
    };
    if (!request.formFields.empty())
        fields.push_back({"Content-Type", "multipart/form-data; boundary=" + body.boundary});
    for (const auto& [name, value] : request.headers) {
        auto same = std::find_if(fields.begin(), fields.end(), [&](const auto& field) { return SameName(field.first, name); });
        if (same != fields.end())
            fields.erase(same);
        fields.push_back({name, value});
    }
    std::string head = fmt::format("{} {} HTTP/1.1\r\n", verb, target.pathAndQuery);
    for (const auto& [name, value] : fields)
        head += fmt::format("{}: {}\r\n", name, value);
    if (!body.pieces.empty() || verb == "POST" || verb == "PUT")
        head += fmt::format("Content-Length: {}\r\n", body.Size());
    return head + "Connection: close\r\n\r\n";
}

} // namespace devhost
