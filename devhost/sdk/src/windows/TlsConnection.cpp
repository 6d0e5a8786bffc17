// Index
// [SECTION] Errors in words
// [SECTION] The socket: connect, wait, send, receive
// [SECTION] The TLS handshake and the server's certificate
// [SECTION] Records: encrypt and decrypt
#include "TlsConnection.h"

#include <ws2tcpip.h>

#include <schannel.h>

#include <algorithm>
#include <climits>
#include <string_view>
#include <vector>

#include <fmt/format.h>

namespace devhost {
namespace {

using Clock = std::chrono::steady_clock;
// How long a wait lasts before the checkpoint is asked again.
constexpr std::chrono::milliseconds kSlice{100};
constexpr std::size_t kReceiveBytes = 16 * 1024;
constexpr ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY
                                | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;

// [SECTION] Errors in words

// The Winsock and SSPI codes a connection meets, in words.
std::string_view ErrorWords(long code)
{
    switch (code) {
    case WSAETIMEDOUT:
        return "timed out";
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
    case WSATRY_AGAIN:
        return "the name does not resolve";
    case WSAECONNREFUSED:
        return "the connection was refused";
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
        return "the server cannot be reached";
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return "the connection was reset";
    case SEC_E_ILLEGAL_MESSAGE:
        return "a TLS message was malformed or refused";
    case SEC_E_ALGORITHM_MISMATCH:
        return "client and server share no cipher";
    case SEC_E_UNSUPPORTED_FUNCTION:
        return "client and server share no TLS version";
    case SEC_E_DECRYPT_FAILURE:
    case SEC_E_MESSAGE_ALTERED:
        return "the data was altered or corrupt";
    case SEC_E_INTERNAL_ERROR:
        return "Schannel failed";
    default:
        return "Windows error";
    }
}

// SSPI's codes are negative HRESULTs, best read in hexadecimal; Winsock's are small numbers.
std::string Failure(std::string_view what, long code)
{
    if (code < 0)
        return fmt::format("{}: {} (0x{:08x})", what, ErrorWords(code), static_cast<unsigned long>(code));
    return fmt::format("{}: {} ({})", what, ErrorWords(code), code);
}

} // namespace

TlsConnection::TlsConnection(Checkpoint checkpoint) : checkpoint(std::move(checkpoint))
{
    WSADATA data;
    winsockStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

TlsConnection::~TlsConnection()
{
    if (haveContext)
        DeleteSecurityContext(&context);
    if (haveCredentials)
        FreeCredentialsHandle(&credentials);
    if (socket != INVALID_SOCKET)
        closesocket(socket);
    if (winsockStarted)
        WSACleanup();
}

// [SECTION] The socket: connect, wait, send, receive

// Ready, or why the wait ended first. A socket whose connect failed shows in the error set.
std::string TlsConnection::Wait(bool forWriting, Clock::time_point deadline)
{
    for (;;) {
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(socket, &ready);
        FD_SET(socket, &failed);
        timeval slice{0, static_cast<long>(std::chrono::microseconds(kSlice).count())};
        const int count = select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &slice);
        if (count == SOCKET_ERROR)
            return Failure("the connection failed", WSAGetLastError());
        if (count > 0)
            return {};
        if (std::string why = checkpoint(); !why.empty())
            return why;
        if (Clock::now() >= deadline)
            return Failure("cannot connect", WSAETIMEDOUT);
    }
}

std::string TlsConnection::Connect(const std::wstring& host, std::uint16_t port, std::chrono::seconds timeout)
{
    if (!winsockStarted)
        return "Winsock could not be started";
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* addresses = nullptr;
    if (const int error = GetAddrInfoW(host.c_str(), std::to_wstring(port).c_str(), &hints, &addresses); error != 0)
        return Failure("cannot find the server", error);
    std::string why;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (ADDRINFOW* address = addresses; address != nullptr && socket == INVALID_SOCKET; address = address->ai_next) {
        socket = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        u_long nonBlocking = 1;
        if (socket == INVALID_SOCKET || ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
            why = Failure("cannot make a socket", WSAGetLastError());
        } else if (connect(socket, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0
                   && WSAGetLastError() != WSAEWOULDBLOCK) {
            why = Failure("cannot connect to the server", WSAGetLastError());
        } else if (why = Wait(true, deadline); why.empty()) {
            int error = 0;
            int size = sizeof error;
            getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
            if (error == 0)
                break;
            why = Failure("cannot connect to the server", error);
        }
        if (socket != INVALID_SOCKET)
            closesocket(socket);
        socket = INVALID_SOCKET;
    }
    FreeAddrInfoW(addresses);
    return socket == INVALID_SOCKET ? why : std::string();
}

std::string TlsConnection::SendRaw(const char* data, std::size_t size)
{
    while (size > 0) {
        const int sent = send(socket, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
        if (sent == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)
            return Failure("cannot send to the server", WSAGetLastError());
        if (sent == SOCKET_ERROR) {
            if (std::string why = Wait(true, Clock::time_point::max()); !why.empty())
                return why;
            continue;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return {};
}

std::string TlsConnection::ReceiveRaw(bool& closed)
{
    char buffer[kReceiveBytes];
    for (;;) {
        if (std::string why = Wait(false, Clock::time_point::max()); !why.empty())
            return why;
        const int got = recv(socket, buffer, sizeof buffer, 0);
        if (got == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
            continue;
        if (got == SOCKET_ERROR)
            return Failure("cannot receive from the server", WSAGetLastError());
        closed = got == 0;
        raw.append(buffer, static_cast<std::size_t>(got));
        return {};
    }
}

// [SECTION] The TLS handshake and the server's certificate

std::string TlsConnection::Handshake(const std::wstring& name)
{
    SCHANNEL_CRED settings{};
    settings.dwVersion = SCHANNEL_CRED_VERSION;
    settings.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
    settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    const SECURITY_STATUS status =
        AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                  &settings, nullptr, nullptr, &credentials, nullptr);
    if (status != SEC_E_OK)
        return Failure("cannot set up TLS", status);
    haveCredentials = true;
    serverName = name;
    if (std::string why = Negotiate(name); !why.empty())
        return why;
    const SECURITY_STATUS sized = QueryContextAttributesW(&context, SECPKG_ATTR_STREAM_SIZES, &sizes);
    return sized == SEC_E_OK ? std::string() : Failure("cannot size TLS records", sized);
}

// The handshake's exchange of tokens, from the start or, on a renegotiation, from what the
// server sent last (left in raw).
std::string TlsConnection::Negotiate(const std::wstring& name)
{
    bool needInput = haveContext && raw.empty();
    for (;;) {
        if (needInput) {
            bool closed = false;
            if (std::string why = ReceiveRaw(closed); !why.empty())
                return why;
            if (closed)
                return "the TLS handshake failed: the server closed the connection";
        }
        SecBuffer in[2] = {{static_cast<ULONG>(raw.size()), SECBUFFER_TOKEN, raw.data()}, {0, SECBUFFER_EMPTY, nullptr}};
        SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
        ULONG granted = 0;
        const SECURITY_STATUS status = InitializeSecurityContextW(
            &credentials, haveContext ? &context : nullptr, const_cast<wchar_t*>(name.c_str()), kContextFlags, 0, 0,
            haveContext ? &inDesc : nullptr, 0, &context, &outDesc, &granted, nullptr);
        if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)
            haveContext = true;
        if (out[0].pvBuffer != nullptr) {
            std::string why = SendRaw(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer);
            FreeContextBuffer(out[0].pvBuffer);
            if (!why.empty())
                return why;
        }
        needInput = true;
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            continue;
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
            return Failure("the TLS handshake failed", status);
        // What Schannel did not consume belongs to the next step, or to the first record.
        if (in[1].BufferType == SECBUFFER_EXTRA) {
            raw.erase(0, raw.size() - in[1].cbBuffer);
            needInput = false;
        } else {
            raw.clear();
        }
        if (status == SEC_E_OK)
            return {};
    }
}

PCCERT_CONTEXT TlsConnection::ServerCertificate(std::string& error)
{
    PCCERT_CONTEXT certificate = nullptr;
    const SECURITY_STATUS status = QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate);
    if (status != SEC_E_OK || certificate == nullptr)
        error = Failure("the server sent no certificate", status);
    return certificate;
}

// [SECTION] Records: encrypt and decrypt

std::string TlsConnection::Send(const char* data, std::size_t size)
{
    std::vector<char> record(sizes.cbHeader + sizes.cbMaximumMessage + sizes.cbTrailer);
    while (size > 0) {
        const auto piece = static_cast<ULONG>(std::min<std::size_t>(size, sizes.cbMaximumMessage));
        std::copy_n(data, piece, record.data() + sizes.cbHeader);
        SecBuffer buffers[4] = {{sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                                {piece, SECBUFFER_DATA, record.data() + sizes.cbHeader},
                                {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes.cbHeader + piece},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
        if (const SECURITY_STATUS status = EncryptMessage(&context, 0, &message, 0); status != SEC_E_OK)
            return Failure("cannot encrypt the request", status);
        if (std::string why = SendRaw(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
            !why.empty())
            return why;
        data += piece;
        size -= piece;
    }
    return {};
}

std::string TlsConnection::Receive(std::string& into, bool& closed)
{
    closed = false;
    for (;;) {
        if (!raw.empty()) {
            SecBuffer buffers[4] = {{static_cast<ULONG>(raw.size()), SECBUFFER_DATA, raw.data()},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = DecryptMessage(&context, &message, 0, nullptr);
            if (status != SEC_E_INCOMPLETE_MESSAGE) {
                if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
                    return Failure("cannot decrypt the reply", status);
                const std::size_t before = into.size();
                std::string extra;
                for (const SecBuffer& buffer : buffers) {
                    if (buffer.BufferType == SECBUFFER_DATA)
                        into.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
                    else if (buffer.BufferType == SECBUFFER_EXTRA)
                        extra.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
                }
                raw = std::move(extra);
                // The server's close_notify.
                closed = status == SEC_I_CONTEXT_EXPIRED;
                if (status == SEC_I_RENEGOTIATE) {
                    if (std::string why = Negotiate(serverName); !why.empty())
                        return why;
                }
                if (closed || into.size() > before)
                    return {};
                continue; // a record without data, such as a session ticket
            }
        }
        if (std::string why = ReceiveRaw(closed); !why.empty() || closed)
            return why;
    }
}

} // namespace devhost
