// The record of requests that devhost --gui's requests pane shows: what each request sent and
// received, its status, and whether it is still waiting.
#include <gtest/gtest.h>

#include "RequestLog.h"
#include "orvane/host/RecordingTransport.h"
#include "support/TempDir.h"

using testing_support::TempDir;

TEST(RequestLogTest, RecordsBytesEachWayStatusAndWhatIsStillWaiting)
{
    TempDir dir;
    auto replay = dir.MakeFile("R1.replay", std::string(1000, 'x'));
    RequestLog log;
    auto inner = std::make_unique<devhost::RecordingTransport>();
    devhost::RecordingTransport* answers = inner.get();
    auto transport = log.Recording(std::move(inner));

    int statusSeen = -1;
    CurlRequest upload;
    upload.url = "https://repair.ravento.test/api/ravento";
    upload.formFields.push_back({FormField::kFile, replay.string(), "file"});
    upload.formFields.push_back({FormField::kText, "abc", "note"});
    transport->Send(upload, [&statusSeen](int status, std::string, std::string) { statusSeen = status; });
    transport->Send(CurlRequest{}, [](int, std::string, std::string) {});

    std::vector<RequestRecord> records;
    std::uint64_t version = 0;
    ASSERT_TRUE(log.CopyIfChanged(records, version));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].bytesSent, 1003u) << "the file's bytes and the text part's";
    EXPECT_FALSE(records[0].answered);
    EXPECT_FALSE(log.CopyIfChanged(records, version)) << "nothing changed";

    ASSERT_TRUE(answers->AnswerNext(200, "repaired bytes"));
    EXPECT_EQ(statusSeen, 200) << "the answer still reaches the host";
    ASSERT_TRUE(log.CopyIfChanged(records, version));
    EXPECT_TRUE(records[0].answered);
    EXPECT_EQ(records[0].status, 200);
    EXPECT_EQ(records[0].bytesReceived, 14u);
    EXPECT_FALSE(records[1].answered) << "the second request is still waiting";

    transport.reset(); // answers what is pending with status 0
    ASSERT_TRUE(log.CopyIfChanged(records, version));
    EXPECT_TRUE(records[1].answered);
    EXPECT_EQ(records[1].status, 0);
}
