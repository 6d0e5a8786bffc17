#include "SelfSignedCertificate.h"

#include <fcntl.h>
#include <unistd.h>

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

} // namespace

TlsFiles MakeSelfSignedCertificate(const std::filesystem::path& folder, const std::string& hostName)
{
    std::filesystem::create_directories(folder);
    TlsFiles files{folder / "certificate.pem", folder / "key.pem"};
    // The key on its own first: "req" making a key prints progress noise.
    RunOpenssl({"openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out",
                files.privateKey.string()});
    RunOpenssl({"openssl", "req", "-x509", "-key", files.privateKey.string(), "-out", files.certificate.string(),
                "-days", "30", "-subj", "/CN=" + hostName, "-addext",
                fmt::format("subjectAltName=DNS:{},DNS:localhost,IP:127.0.0.1", hostName)});
    return files;
}

} // namespace repairservice
