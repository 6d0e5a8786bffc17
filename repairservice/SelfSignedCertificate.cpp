#include "SelfSignedCertificate.h"

#include <fcntl.h>
#include <openssl/ecdsa.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include <fmt/format.h>

#include "Subprocess.h"

namespace repairservice {

namespace {

// openssl reads nothing and its output is of no use here; its errors go to standard error.
void RunOpenssl(const std::vector<std::string>& argv)
{
    int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    std::error_code error;
    ChildProcess openssl = ChildProcess::Start(argv, nothing, nothing, STDERR_FILENO, error);
    ::close(nothing);
    if (error)
        throw std::runtime_error(fmt::format("cannot run openssl: {}", error.message()));
    openssl.WaitForExit(std::chrono::minutes(1));
    int exitCode = openssl.Reap();
    if (exitCode != 0)
        throw std::runtime_error(fmt::format("openssl {} failed (exit code {})", argv[1], exitCode));
}

// Wine refuses a P-256 signature whose r or s is shorter than 32 bytes (about one in 128), and
// devhost.exe checks this certificate under Wine: only a full-length signature may be kept.
bool HasFullLengthSignature(const std::filesystem::path& certificate)
{
    std::FILE* file = std::fopen(certificate.c_str(), "r");
    if (!file)
        return false;
    X509* x509 = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    if (!x509)
        return false;
    const ASN1_BIT_STRING* signature = nullptr;
    X509_get0_signature(&signature, nullptr, x509);
    const unsigned char* der = signature->data;
    ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &der, signature->length);
    const bool full = parsed && BN_num_bytes(ECDSA_SIG_get0_r(parsed)) == 32 &&
        BN_num_bytes(ECDSA_SIG_get0_s(parsed)) == 32;
    ECDSA_SIG_free(parsed);
    X509_free(x509);
    return full;
}

} // namespace

TlsFiles MakeSelfSignedCertificate(const std::filesystem::path& folder, const std::string& hostName)
{
    std::filesystem::create_directories(folder);
    TlsFiles files{folder / "certificate.pem", folder / "key.pem"};
    // The key on its own first: "req" making a key prints progress noise.
    RunOpenssl({"openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out",
                files.privateKey.string()});
    for (int attempt = 0; attempt < 64; ++attempt) {
        RunOpenssl({"openssl", "req", "-x509", "-key", files.privateKey.string(), "-out",
                    files.certificate.string(), "-days", "30", "-subj", "/CN=" + hostName, "-addext",
                    fmt::format("subjectAltName=DNS:{},DNS:localhost,IP:127.0.0.1", hostName)});
        if (HasFullLengthSignature(files.certificate))
            return files;
    }
    throw std::runtime_error("openssl gave no full-length signature in 64 tries");
}

} // namespace repairservice
