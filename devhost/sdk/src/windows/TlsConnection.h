// One TLS connection to a server: a Winsock TCP socket and a Schannel context (SSPI). Schannel
// is told not to judge the server's certificate (manual validation): the caller checks
// ServerCertificate() itself, with its own roots and the real host name, before it sends a
// byte. Every wait is cut into short slices and the checkpoint is asked between them, so a
// stalled server, the time limit or the transport going away ends a call within a slice.
// Failures come back as text: what failed, in words, with the Winsock or SSPI code beside.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <wincrypt.h>
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <security.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace devhost {

class TlsConnection {
public:
    // Empty while the exchange may go on; otherwise why it must end.
    using Checkpoint = std::function<std::string()>;

    explicit TlsConnection(Checkpoint checkpoint);
    ~TlsConnection();
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    // Each returns empty on success, otherwise why not.
    std::string Connect(const std::wstring& host, std::uint16_t port, std::chrono::seconds timeout);
    // serverName goes out as SNI.
    std::string Handshake(const std::wstring& serverName);
    // The certificate the server sent, with the others it sent in its store; the caller frees
    // it (CertFreeCertificateContext). Null, with error set, when there is none.
    PCCERT_CONTEXT ServerCertificate(std::string& error);
    std::string Send(const char* data, std::size_t size);
    // Appends what arrives to into, at least a byte unless the server has closed the
    // connection: then closed is set.
    std::string Receive(std::string& into, bool& closed);

private:
    std::string Negotiate(const std::wstring& serverName);
    std::string Wait(bool forWriting, std::chrono::steady_clock::time_point deadline);
    std::string SendRaw(const char* data, std::size_t size);
    std::string ReceiveRaw(bool& closed);

    const Checkpoint checkpoint;
    bool winsockStarted = false;
    SOCKET socket = INVALID_SOCKET;
    CredHandle credentials{};
    bool haveCredentials = false;
    CtxtHandle context{};
    bool haveContext = false;
    std::wstring serverName; // kept for a renegotiation
    SecPkgContext_StreamSizes sizes{};
    std::string raw; // received bytes Schannel has not consumed yet
};

} // namespace devhost
