#include "ServerCertificate.h"

#include <cstddef>
#include <fstream>
#include <iterator>
#include <vector>

#include <fmt/format.h>

namespace devhost {
namespace {

constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kEnd = "-----END CERTIFICATE-----";

// Each PEM certificate block of text, decoded, added to store; returns how many.
int AddPemCertificates(const std::string& text, HCERTSTORE store)
{
    int added = 0;
    for (std::size_t begin = text.find(kBegin); begin != std::string::npos; begin = text.find(kBegin, begin + 1)) {
        std::size_t end = text.find(kEnd, begin);
        if (end == std::string::npos)
            break;
        std::string block = text.substr(begin, end + kEnd.size() - begin);
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                  &size, nullptr, nullptr))
            continue;
        std::vector<BYTE> der(size);
        if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                 der.data(), &size, nullptr, nullptr)
            && CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_ALWAYS,
                                                nullptr))
            ++added;
    }
    return added;
}

} // namespace

TrustedRoots::TrustedRoots(const std::filesystem::path& pemFile, std::string& error)
{
    // Chain building looks at the system's root store, and Wine fills that store from the Unix
    // certificates the first time a process opens it: half a second on an idle machine, more
    // on a busy one, during which a service waits for the request (and cuts it after a few
    // seconds). Opened here, that time is spent before any connection.
    if (HCERTSTORE system = CertOpenSystemStoreW(0, L"ROOT"))
        CertCloseStore(system, 0);
    if (pemFile.empty())
        return;
    std::ifstream stream(pemFile, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    roots = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (!stream || roots == nullptr || AddPemCertificates(text, roots) == 0) {
        error = fmt::format("no certificate could be read from {}", pemFile.string());
        return;
    }
    CERT_CHAIN_ENGINE_CONFIG config{};
    // Wine 8 refuses the size of the structure as mingw-w64 declares it; the fields up to the
    // exclusive root are all this needs.
    config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, dwExclusiveFlags);
    config.hExclusiveRoot = roots;
    if (!CertCreateCertificateChainEngine(&config, &engine))
        error = fmt::format("cannot build a chain engine for {}: Windows error {}", pemFile.string(), GetLastError());
}

TrustedRoots::~TrustedRoots()
{
    if (engine != nullptr)
        CertFreeCertificateChainEngine(engine);
    if (roots != nullptr)
        CertCloseStore(roots, 0);
}

namespace {

// What is wrong with a chain, in words; empty when nothing is. Each of these alone refuses it:
// the SSL policy below judges the name and little else.
std::string ChainFault(DWORD status)
{
    struct Fault {
        DWORD bit;
        const char* words;
    };
    static constexpr Fault kFaults[] = {
        {CERT_TRUST_IS_PARTIAL_CHAIN, "its chain does not reach a trusted certificate"},
        {CERT_TRUST_IS_UNTRUSTED_ROOT, "its chain ends at a certificate that is not trusted"},
        {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, "a certificate of its chain that is no authority signed another"},
        {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, "it is not meant for TLS servers"},
        {CERT_TRUST_IS_NOT_TIME_VALID, "it has expired or is not valid yet"},
        {CERT_TRUST_IS_NOT_SIGNATURE_VALID, "a signature of its chain is wrong"},
        {CERT_TRUST_IS_REVOKED, "it was revoked"},
        {CERT_TRUST_IS_CYCLIC, "its chain loops"},
    };
    for (const Fault& fault : kFaults) {
        if ((status & fault.bit) != 0)
            return fault.words;
    }
    return status == CERT_TRUST_NO_ERROR ? std::string() : fmt::format("its chain is not trusted (0x{:x})", status);
}

} // namespace

std::string TrustedRoots::Check(PCCERT_CONTEXT server, const std::wstring& hostName) const
{
    LPSTR serverAuth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = &serverAuth;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(engine, server, nullptr, server->hCertStore, &chainPara, 0, nullptr, &chain))
        return fmt::format("the server's certificate chain cannot be built: Windows error {}", GetLastError());
    if (std::string fault = ChainFault(chain->TrustStatus.dwErrorStatus); !fault.empty()) {
        CertFreeCertificateChain(chain);
        return "the server's certificate is refused: " + fault;
    }

    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t*>(hostName.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    bool checked = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
    CertFreeCertificateChain(chain);
    if (!checked)
        return fmt::format("the server's certificate cannot be checked: Windows error {}", GetLastError());
    if (status.dwError != 0)
        return fmt::format("the server's certificate is refused: not valid for this host name (0x{:08x})",
                           status.dwError);
    return {};
}

} // namespace devhost
