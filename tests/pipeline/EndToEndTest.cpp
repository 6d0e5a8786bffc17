// The plugin, the host's libcurl transport and the stand-in service, over real HTTPS with a
// verified certificate on the loopback interface.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <future>

#include "RepairService.h"
#include "orvane/host/CurlTransport.h"
#include "pipeline/PipelineFixture.h"

using devhost::CurlTransport;
using devhost::HttpTransportOptions;
using testing_support::Names;
using testing_support::PipelineFixture;
using testing_support::ReadBytes;
using testing_support::TempDir;
using Lines = std::vector<std::string>;

namespace {

// The stand-in service under the plugin's real service name, reached through CONNECT_TO.
class Service {
public:
    explicit Service(std::size_t uploadLimit = 10) : service(Options(uploadLimit, tlsDir)), port(service.Start(0)) {}

    HttpTransportOptions TrustingTransport() const
    {
        HttpTransportOptions options = UntrustingTransport();
        options.caFile = tlsDir.Path() / "certificate.pem";
        return options;
    }
    // Reaches the service but trusts only the system's certificates.
    HttpTransportOptions UntrustingTransport() const
    {
        HttpTransportOptions options;
        options.connectTo = {fmt::format("{}:443:127.0.0.1:{}", RAVENTO_SERVICE_HOST, port)};
        return options;
    }

private:
    static repairservice::ServiceOptions Options(std::size_t uploadLimit, const TempDir& tlsDir)
    {
        repairservice::ServiceOptions options;
        options.tls = repairservice::MakeSelfSignedCertificate(tlsDir.Path(), RAVENTO_SERVICE_HOST);
        options.uploadLimit = uploadLimit;
        return options;
    }

    TempDir tlsDir;
    repairservice::RepairService service;
    int port;
};

struct Reply {
    int status = -1;
    std::string body;
    std::string reason;
};

// Sends one request straight through a transport and waits for its completion.
Reply SendThrough(CurlTransport& transport, CurlRequest request)
{
    std::promise<Reply> promise;
    transport.Send(std::move(request), [&](int status, std::string body, std::string reason) {
        promise.set_value({status, std::move(body), std::move(reason)});
    });
    return promise.get_future().get();
}

CurlRequest Upload(const std::filesystem::path& file)
{
    CurlRequest request;
    request.url = "https://" RAVENTO_SERVICE_HOST "/api/ravento";
    request.formFields.push_back({FormField::kFile, file.string(), "file"});
    return request;
}

} // namespace

TEST(EndToEnd, RepairsTenReplaysThenTheServiceRefusesTheEleventh)
{
    Service service;
    PipelineFixture fixture(std::make_unique<CurlTransport>(service.TrustingTransport()));
    for (int replay = 0; replay <= 10; ++replay)
        fixture.AddReplay(fmt::format("R{}", replay), fmt::format("replay {}\r\n{}", replay, std::string(1000, '\0')));

    for (int replay = 0; replay < 10; ++replay) // all ten in flight at once
        fixture.Play(fmt::format("R{}", replay));
    ASSERT_TRUE(fixture.Host().Settle(std::chrono::seconds(30)));
    for (int replay = 0; replay < 10; ++replay) {
        std::string content = fmt::format("replay {}\r\n{}", replay, std::string(1000, '\0'));
        EXPECT_EQ(ReadBytes(fixture.demos / fmt::format("R{}_fixed.replay", replay)), content);
        EXPECT_EQ(ReadBytes(fixture.backups / fmt::format("R{}_copy.replay", replay)), content);
    }
    EXPECT_EQ(fixture.Log(), Lines(10, "Post result(200)"));
    EXPECT_FALSE(fixture.Plugin().rateLimitHit);

    fixture.Play("R10");
    ASSERT_TRUE(fixture.Host().Settle(std::chrono::seconds(30)));
    EXPECT_TRUE(fixture.Plugin().rateLimitHit);
    EXPECT_EQ(fixture.Commands(), Lines{"togglemenu Ravento [false]"});
    EXPECT_TRUE(std::filesystem::exists(fixture.demos / "R10.replay"));
    EXPECT_FALSE(std::filesystem::exists(fixture.demos / "R10_fixed.replay"));
    EXPECT_EQ(Names(fixture.backups).size(), 10u);
}

TEST(EndToEnd, AnUntrustedCertificateFailsTheTransferAndTouchesNoFile)
{
    Service service;
    PipelineFixture fixture(std::make_unique<CurlTransport>(service.UntrustingTransport()));
    fixture.AddReplay("R", "original");
    fixture.Play("R");
    ASSERT_TRUE(fixture.Host().Settle(std::chrono::seconds(30)));
    EXPECT_EQ(fixture.Log(), Lines{"Post result(0)"});
    // The plugin sees status 0 alone, so its row names both causes the host folds into it.
    plugin::RepairSnapshot rows;
    fixture.Plugin().repairs.Refresh(rows);
    ASSERT_EQ(rows.rows.size(), 1u);
    EXPECT_EQ(rows.rows[0].outcome, "failed: the repair service could not be reached or its answer was cut short");
    EXPECT_EQ(Names(fixture.demos), Lines{"R.replay"});
    EXPECT_EQ(ReadBytes(fixture.demos / "R.replay"), "original");
    EXPECT_TRUE(Names(fixture.backups).empty());

    CurlTransport transport(service.UntrustingTransport());
    Reply reply = SendThrough(transport, Upload(fixture.demos / "R.replay"));
    EXPECT_EQ(reply.status, 0);
    EXPECT_FALSE(reply.reason.empty());
}

TEST(EndToEnd, TransportFailuresComeBackAsStatusZeroWithCurlsReason)
{
    Service service;
    TempDir dir;
    std::filesystem::path replay = dir.MakeFile("R.replay", std::string(4096, 'r'));

    HttpTransportOptions capped = service.TrustingTransport();
    capped.maxReplyBytes = 1024;
    CurlTransport cappedTransport(capped);
    Reply tooLarge = SendThrough(cappedTransport, Upload(replay));
    EXPECT_EQ(tooLarge.status, 0);
    EXPECT_TRUE(tooLarge.body.empty());
    EXPECT_FALSE(tooLarge.reason.empty());

    CurlTransport transport(service.TrustingTransport());
    Reply missingFile = SendThrough(transport, Upload(dir.Path() / "missing.replay"));
    EXPECT_EQ(missingFile.status, 0);
    EXPECT_FALSE(missingFile.reason.empty());

    CurlRequest plainHttp = Upload(replay);
    plainHttp.url = "http://" RAVENTO_SERVICE_HOST "/api/ravento";
    EXPECT_EQ(SendThrough(transport, plainHttp).status, 0); // HTTPS only

    Reply echoed = SendThrough(transport, Upload(replay));
    EXPECT_EQ(echoed.status, 200);
    EXPECT_EQ(echoed.body, std::string(4096, 'r'));
}
