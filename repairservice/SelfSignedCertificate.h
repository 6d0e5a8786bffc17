// A throwaway TLS identity for the stand-in service, made with the openssl program.
#pragma once

#include <filesystem>
#include <string>

namespace repairservice {

struct TlsFiles {
    std::filesystem::path certificate; // PEM; clients trust exactly this file (--cacert)
    std::filesystem::path privateKey; // PEM, unencrypted
};

// Writes "certificate.pem" and "key.pem" into folder (created if missing), valid for hostName,
// "localhost" and 127.0.0.1, signed with a full-length ECDSA signature (Wine accepts no other).
// Throws std::runtime_error when openssl fails.
TlsFiles MakeSelfSignedCertificate(const std::filesystem::path& folder, const std::string& hostName);

} // namespace repairservice
