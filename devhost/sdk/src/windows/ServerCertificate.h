// The server certificate check of the Schannel transport. Schannel is told to leave the
// certificate to us (manual validation), since Wine cannot give it a root of our choosing: the
// chain must end in one of the trusted roots and the SSL policy must accept it for the
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
