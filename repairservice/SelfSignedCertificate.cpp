#include "SelfSignedCertificate.h"

#include <stdexcept>

#include <fmt/format.h>

#include "Subprocess.h"

namespace repairservice {

TlsFiles MakeSelfSignedCertificate(const std::filesystem::path& folder, const std::string& hostName)
{
    std::filesystem::create_directories(folder);
    TlsFiles files{folder / "certificate.pem", folder / "key.pem"};
    std::vector<std::string> argv = {
        "openssl", "req", "-x509", "-nodes", "-days", "30",
        "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
        "-keyout", files.privateKey.string(), "-out", files.certificate.string(),
        "-subj", "/CN=" + hostName,
        "-addext", fmt::format("subjectAltName=DNS:{},DNS:localhost,IP:127.0.0.1", hostName),
    };
    std::error_code error;
    ProcessResult result = RunProcess(argv, {}, error);
    if (error)
        throw std::runtime_error(fmt::format("cannot run openssl: {}", error.message()));
    if (result.exitCode != 0)
        throw std::runtime_error(fmt::format("openssl could not make a certificate (exit code {})", result.exitCode));
    return files;
}

} // namespace repairservice
