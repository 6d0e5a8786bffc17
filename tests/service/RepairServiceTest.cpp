// The stand-in repair service over HTTPS, as a client with a verified certificate sees it.
#include <gtest/gtest.h>

#include <httplib.h>

#include "ServiceFixture.h"
#include "support/Files.h"

using repairservice::RateLimiter;
using repairservice::ServiceOptions;
using service_testing::RunningService;

namespace {

int StatusOf(const httplib::Result& result)
{
    return result ? result->status : -1;
}

} // namespace

TEST(RepairService, AnswersEachKindOfRequest)
{
    ServiceOptions options;
    options.maxUploadBytes = 4096;
    RunningService service(options);

    const std::string replay("replay\0\r\n\xff bytes", 16);
    httplib::Result repaired = service.Upload(replay);
    ASSERT_EQ(StatusOf(repaired), 200);
    EXPECT_EQ(repaired->body, replay); // no repair command: the bytes come back unchanged

    EXPECT_EQ(StatusOf(service.Upload(replay, "other")), 400);
    EXPECT_EQ(StatusOf(service.Upload("")), 400);
    EXPECT_EQ(StatusOf(service.Client()->Post("/api/ravento", "not a form", "text/plain")), 400);
    EXPECT_EQ(StatusOf(service.Upload(std::string(8192, 'x'))), 413);
    EXPECT_EQ(StatusOf(service.Client()->Get("/api/ravento")), 405);
    EXPECT_EQ(StatusOf(service.Client()->Put("/api/ravento", "x", "text/plain")), 405);
    EXPECT_EQ(StatusOf(service.Client()->Post("/api/other", "x", "text/plain")), 404);
}

TEST(RepairService, RunsTheRepairCommandAndHonoursItsExitCode)
{
    struct Case {
        const char* command;
        int status;
        const char* body;
    };
    const Case cases[] = {
        {"tr a-z A-Z", 200, "REPLAY"},
        {"cat >/dev/null; exit 3", 400, nullptr},
        {"exit 3", 400, nullptr},
        {"exit 1", 500, nullptr},
        {"cat >/dev/null", 500, nullptr}, // success without a repaired byte
        {"/nonexistent/repairer", 500, nullptr},
        // Only the standard streams reach a command: no client socket, no file of the service.
        {"cat >/dev/null; ls /proc/$$/fd", 200, "0\n1\n2\n"},
        // Each command leads a process group of its own.
        {"cat >/dev/null; set -- $(cat /proc/$$/stat); test $5 -eq $$ && echo leader", 200, "leader\n"},
    };
    for (const Case& check : cases) {
        ServiceOptions options;
        options.repairCommand = check.command;
        RunningService service(options);
        httplib::Result result = service.Upload("replay");
        EXPECT_EQ(StatusOf(result), check.status) << check.command;
        if (check.body && result) {
            EXPECT_EQ(result->body, check.body) << check.command;
        }
    }
}

TEST(RepairService, StreamsLargeUploadsThroughTheRepairCommand)
{
    // Far more than two pipe buffers: the command writes output while its input still arrives.
    ServiceOptions options;
    options.repairCommand = "cat";
    RunningService service(options);
    std::string replay(4u << 20, '\0');
    for (std::size_t at = 0; at < replay.size(); ++at)
        replay[at] = static_cast<char>(at * 131 % 251);
    httplib::Result result = service.Upload(replay);
    ASSERT_EQ(StatusOf(result), 200);
    EXPECT_TRUE(result->body == replay);

    // A small upload stays in memory; a large one moves to the temporary folder part way.
    testing_support::TempDir folder;
    options.repairCommand = "cat >/dev/null; readlink /proc/$$/fd/0";
    options.temporaryFolder = folder.Path();
    RunningService where(options);
    httplib::Result small = where.Upload("replay");
    httplib::Result large = where.Upload(replay);
    ASSERT_EQ(StatusOf(small), 200);
    ASSERT_EQ(StatusOf(large), 200);
    EXPECT_EQ(small->body, "/memfd:ravento-upload (deleted)\n");
    EXPECT_EQ(large->body.rfind((folder.Path() / "ravento-upload-").string(), 0), 0u) << large->body;
}

TEST(RepairService, RefusesUploadsBeyondTheLimit)
{
    ServiceOptions options;
    options.uploadLimit = 3;
    RunningService service(options);
    for (int upload = 1; upload <= 3; ++upload)
        EXPECT_EQ(StatusOf(service.Upload("replay")), 200) << upload;
    EXPECT_EQ(StatusOf(service.Upload("replay")), 429);
    // Also to a client that reads the answer only after sending a body larger than the
    // connection's buffers: the service drops the body before it answers.
    EXPECT_EQ(StatusOf(service.Upload(std::string(std::size_t{2} << 20, 'r'))), 429);
}

TEST(RateLimiter, CountsUploadsInASlidingWindowPerClient)
{
    using std::chrono::seconds;
    RateLimiter limiter(3, seconds(30));
    const RateLimiter::Clock::time_point start;
    auto at = [&](int second) { return start + seconds(second); };

    EXPECT_TRUE(limiter.Admit("a", at(0)));
    EXPECT_TRUE(limiter.Admit("a", at(10)));
    EXPECT_TRUE(limiter.Admit("a", at(20)));
    EXPECT_FALSE(limiter.Admit("a", at(29))); // refusals are not counted
    EXPECT_TRUE(limiter.Admit("b", at(29))); // other clients have their own window
    EXPECT_TRUE(limiter.Admit("a", at(30))); // the upload at 0 has left the window
    EXPECT_FALSE(limiter.Admit("a", at(39)));
    EXPECT_TRUE(limiter.Admit("a", at(40)));
}
