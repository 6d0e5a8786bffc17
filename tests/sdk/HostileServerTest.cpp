// The libcurl transport (OpenSSL natively, Schannel under Wine) against servers that misbehave on
// purpose (hostile_tls_server.py, which starts this program): certificates that must be refused,
// bodies that end early or are framed in doubt, heads no client should take, replies that stall
// or never end, answers given before the upload is read. The same cases and expectations run on
// both halves, with the good case beside them so that refusing everything cannot pass; what
// Wine's Schannel cannot do skips by name, with the reason.
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/WaitUntil.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include "orvane/host/CurlTransport.h"
using PlatformTransport = devhost::CurlTransport;

using namespace std::chrono_literals;
using devhost::HttpTransportOptions;
using testing::HasSubstr;

namespace {

const std::string kGoodBody = "the repaired replay";

struct Reply {
    int status = -1;
    std::string body;
    std::string reason;
};

// The servers' ports by name, as the script that started this program gives them.
int Port(const std::string& server)
{
    const char* ports = std::getenv("HOSTILE_TLS_PORTS");
    std::string list = ports != nullptr ? ports : "";
    std::size_t at = list.find(server + "=");
    return at == std::string::npos ? 0 : std::stoi(list.substr(at + server.size() + 1));
}

HttpTransportOptions Trusting()
{
    HttpTransportOptions options;
    const char* authority = std::getenv("HOSTILE_TLS_CA");
    options.caFile = authority != nullptr ? authority : "";
    // As devhost reaches a stand-in service: by its name, which the certificates carry.
    options.connectTo = {"hostile.test::127.0.0.1:"};
    return options;
}

// A small upload, as the plugin's are, so a server can tell whether a body reached it.
CurlRequest Post(const std::string& server, const std::string& path)
{
    CurlRequest request;
    request.url = fmt::format("https://hostile.test:{}{}", Port(server), path);
    request.verb = "POST";
    request.body = "replay bytes";
    return request;
}

std::future<Reply> Start(devhost::HttpTransport& transport, CurlRequest request)
{
    auto promise = std::make_shared<std::promise<Reply>>();
    transport.Send(std::move(request), [promise](int status, std::string body, std::string reason) {
        promise->set_value({status, std::move(body), std::move(reason)});
    });
    return promise->get_future();
}

// Long enough for every case here to end by itself; a hang shows as status -2.
Reply Exchange(devhost::HttpTransport& transport, CurlRequest request)
{
    std::future<Reply> reply = Start(transport, std::move(request));
    if (reply.wait_for(90s) != std::future_status::ready)
        return {-2, {}, "no completion"};
    return reply.get();
}

// How many request bodies the servers have read in full.
std::string BodiesReceived(devhost::HttpTransport& transport)
{
    CurlRequest request = Post("good", "/received");
    request.verb = "GET";
    request.body.clear();
    return Exchange(transport, request).body;
}

// Wine's ntdll names itself; Windows' does not.
bool UnderWine()
{
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

void ExpectRefused(const Reply& reply, const std::string& what, const std::string& why)
{
    EXPECT_EQ(reply.status, 0) << what << ": " << reply.reason;
    EXPECT_EQ(reply.body, "") << what;
    EXPECT_THAT(reply.reason, HasSubstr(why)) << what;
}

} // namespace

TEST(HostileServerTest, OnlyAChainEndingAtATrustedAuthorityIsAcceptedAndNothingIsSentBefore)
{
    ASSERT_NE(Port("good"), 0) << "run by hostile_tls_server.py";
    PlatformTransport transport(Trusting());
    for (const char* server : {"partial", "not_a_ca", "wrong_name", "expired", "not_yet_valid"})
        ExpectRefused(Exchange(transport, Post(server, "/good")), server, "certificate");
    EXPECT_EQ(BodiesReceived(transport), "0") << "an upload went to a server that was refused";

    Reply good = Exchange(transport, Post("good", "/good"));
    EXPECT_EQ(good.status, 200) << good.reason;
    EXPECT_EQ(good.body, kGoodBody);
    EXPECT_EQ(BodiesReceived(transport), "1");
}

TEST(HostileServerTest, ACertificateForAnotherUseThanServerAuthenticationIsRefused)
{
#ifdef _WIN32
    GTEST_SKIP() << "libcurl 7.88's Schannel backend checks a --cacert chain without asking for "
                    "server authentication, so a code-signing certificate passes";
#endif
    PlatformTransport transport(Trusting());
    const std::string before = BodiesReceived(transport);
    ExpectRefused(Exchange(transport, Post("code_signing", "/good")), "code_signing", "certificate");
    EXPECT_EQ(BodiesReceived(transport), before) << "an upload went to a server that was refused";
}

TEST(HostileServerTest, TheSystemsRootsDoNotVouchForTheTestsAuthority)
{
    if (UnderWine())
        GTEST_SKIP() << "Wine's Schannel does not check a chain against the system's roots "
                        "(SCH_CRED_AUTO_CRED_VALIDATION): it accepts any; Windows refuses";
    HttpTransportOptions systemRoots = Trusting();
    systemRoots.caFile.clear();
    PlatformTransport trustingTheSystem(systemRoots);
    ExpectRefused(Exchange(trustingTheSystem, Post("good", "/good")), "system roots", "certificate");
}

TEST(HostileServerTest, ABodyCountsOnlyWhenItArrivesWholeAfterItsFinalHead)
{
    PlatformTransport transport(Trusting());
    for (const char* path : {"/short-length", "/short-chunk", "/unterminated-chunks", "/short-http10", "/two-lengths",
                             "/huge-length", "/chunked-then-identity", "/status-2000", "/status-0200",
                             "/header-without-colon", "/nul-in-header", "/long-header-line"}) {
        Reply reply = Exchange(transport, Post("good", path));
        EXPECT_EQ(reply.status, 0) << path;
        EXPECT_EQ(reply.body, "") << path;
        EXPECT_NE(reply.reason, "") << path;
    }
    for (const char* path : {"/continue", "/early-hints", "/gzip-chunked", "/good"}) {
        Reply reply = Exchange(transport, Post("good", path));
        EXPECT_EQ(reply.status, 200) << path << ": " << reply.reason;
        EXPECT_EQ(reply.body, kGoodBody) << path;
    }
}

TEST(HostileServerTest, StallsAndFloodsEndAtTheirLimitsHeadersIncluded)
{
    HttpTransportOptions stallAfterTwoSeconds = Trusting();
    stallAfterTwoSeconds.lowSpeedTime = 2s;
    HttpTransportOptions overAfterThreeSeconds = Trusting();
    overAfterThreeSeconds.lowSpeedBytesPerSecond = 1; // a byte a second is fast enough here
    overAfterThreeSeconds.timeLimit = 3s;
    struct Case {
        const HttpTransportOptions& options;
        const char* path;
        const char* why;
    };
    for (const Case& limit : {Case{stallAfterTwoSeconds, "/slow-body", "too slow"},
                              Case{stallAfterTwoSeconds, "/slow-header-lines", "too slow"},
                              Case{stallAfterTwoSeconds, "/slow-header-bytes", "too slow"},
                              Case{stallAfterTwoSeconds, "/records-every-50-ms", "too slow"},
                              Case{overAfterThreeSeconds, "/slow-body", "timed out"},
                              Case{overAfterThreeSeconds, "/slow-header-lines", "timed out"},
                              Case{Trusting(), "/endless-headers", "headers"}}) {
        PlatformTransport transport(limit.options);
        ExpectRefused(Exchange(transport, Post("good", limit.path)), limit.path, limit.why);
    }
}

TEST(HostileServerTest, AnAnswerGivenBeforeTheUploadIsReadIsHandedOn)
{
    PlatformTransport transport(Trusting());
    // Large enough that the server's answer comes while the upload is still to be sent.
    CurlRequest refused = Post("good", "/too-many-then-close");
    refused.body.assign(std::size_t{4} << 20, 'r');
    Reply tooMany = Exchange(transport, refused);
    EXPECT_EQ(tooMany.status, 429) << tooMany.reason;
    EXPECT_EQ(tooMany.body, "too many uploads");

    CurlRequest early = Post("good", "/good-and-keep-open");
    early.body.assign(std::size_t{4} << 20, 'r');
    Reply good = Exchange(transport, early); // a client waiting for the server to close shows as -2
    EXPECT_EQ(good.status, 200) << good.reason;
    EXPECT_EQ(good.body, kGoodBody);
}

TEST(HostileServerTest, AServerThatAllowsOnlyTls13IsReached)
{
    if (UnderWine())
        GTEST_SKIP() << "Wine's Schannel offers TLS 1.2 at most; Windows 11 and Server 2022 speak TLS 1.3";
    PlatformTransport transport(Trusting());
    Reply reply = Exchange(transport, Post("tls13_only", "/good"));
    EXPECT_EQ(reply.status, 200) << reply.reason;
    EXPECT_EQ(reply.body, kGoodBody);
}

TEST(HostileServerTest, DestroyingTheTransportEndsAStuckRequestAtOnce)
{
    PlatformTransport observer(Trusting());
    const std::string before = BodiesReceived(observer);
    std::optional<PlatformTransport> transport(std::in_place, Trusting());
    std::future<Reply> stuck = Start(*transport, Post("good", "/slow-header-bytes"));
    // The server has the request and answers a byte every 20 s.
    ASSERT_TRUE(testing_support::WaitUntil([&] { return BodiesReceived(observer) != before; }));
    const auto destroying = std::chrono::steady_clock::now();
    transport.reset();
    const auto took = std::chrono::steady_clock::now() - destroying;
    // Before, the destructor waited for the server to finish, minutes later.
    EXPECT_LT(took, 10s);
    ASSERT_EQ(stuck.wait_for(0s), std::future_status::ready);
    ExpectRefused(stuck.get(), "stuck", "shut down");
}

TEST(HostileServerTest, AFailureIsToldInWords)
{
    PlatformTransport transport(Trusting());
    ExpectRefused(Exchange(transport, Post("closed", "/good")), "closed port", "connect");
}
