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
    // WinHTTP looks at the system's root store during every handshake, and Wine fills that
    // store from the Unix certificates the first time a process opens it: half a second on an
    // idle machine, more on a busy one, during which a service waits for the request (and cuts
    // it after a few seconds). Opened here, that time is spent before any connection.
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

std::string TrustedRoots::Check(PCCERT_CONTEXT server, const std::wstring& hostName) const
{
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(engine, server, nullptr, server->hCertStore, &chainPara, 0, nullptr, &chain))
        return fmt::format("the server's certificate chain cannot be built: Windows error {}", GetLastError());

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
        return fmt::format("the server's certificate is not trusted for this host (0x{:08x})", status.dwError);
    return {};
}

} // namespace devhost
