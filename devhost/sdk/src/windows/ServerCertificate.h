// The server certificate check of the WinHTTP transport. WinHTTP's own check sees the address
// it connected to (a --connect-to target) instead of the service's name, and Wine cannot give
// it a root of our choosing, so the transport turns that check off and runs this one itself:
// the chain must end in one of the trusted roots and the SSL policy must accept it for the
// service's real host name.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <filesystem>
#include <string>

namespace devhost {

class TrustedRoots {
public:
    // An empty file name trusts the system's roots; otherwise only the PEM file's certificates.
    // Sets error when the file cannot be read or holds no certificate.
    TrustedRoots(const std::filesystem::path& pemFile, std::string& error);
    ~TrustedRoots();
    TrustedRoots(const TrustedRoots&) = delete;
    TrustedRoots& operator=(const TrustedRoots&) = delete;

    // Empty when server is trusted for hostName; otherwise why not.
    std::string Check(PCCERT_CONTEXT server, const std::wstring& hostName) const;

private:
    HCERTSTORE roots = nullptr;
    HCERTCHAINENGINE engine = nullptr; // null: the system's default engine
};

} // namespace devhost
