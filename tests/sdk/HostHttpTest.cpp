// The HTTP facility through the recording transport, and what unloading does to a plugin's
// pending callables.
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "TestHost.h"
#include "orvane/HttpWrapper.h"
#include "orvane/host/RecordingTransport.h"

using namespace std::chrono_literals;
using devhost::HostOptions;
using devhost::RecordingTransport;

namespace {

struct Reply {
    int status = -1;
    std::string body;
    bool nonNullData = false;
    std::thread::id thread;
};

RecordingTransport& Recorder(TestHost& host)
{
    return static_cast<RecordingTransport&>(host->Transport());
}

CurlRequest UploadRequest()
{
    CurlRequest request;
    request.url = "https://repair.example.test/api/ravento";
    request.formFields.push_back({FormField::kFile, "/replays/abc.replay", "file"});
    return request;
}

// Sends from inside a game callable, as the plugin does from its hook.
void SendFromGame(TestHost& host, TestPlugin& plugin, Reply& reply)
{
    plugin.gameWrapper->Execute([&reply](GameWrapper*) {
        HttpWrapper::SendCurlRequest(UploadRequest(), [&reply](int status, char* data, std::size_t size) {
            reply.status = status;
            reply.nonNullData = data != nullptr;
            reply.body.assign(data, size);
            reply.thread = std::this_thread::get_id();
        });
    });
    host->RunGameWork();
}

} // namespace

TEST(HostHttpTest, RequestsAreRecordedAndAnsweredOnTheHttpThreadWhenTheTestSays)
{
    TestHost host;
    TestPlugin& plugin = host.Load([](TestPlugin&) {});
    Reply first;
    Reply second;
    SendFromGame(host, plugin, first);
    SendFromGame(host, plugin, second);

    auto requests = Recorder(host).Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].url, "https://repair.example.test/api/ravento");
    ASSERT_EQ(requests[0].formFields.size(), 1u);
    EXPECT_EQ(requests[0].formFields[0].name, "file");
    EXPECT_EQ(host->OutstandingRequests(), 2u);
    EXPECT_FALSE(host->Settle(20ms)) << "nothing answered yet";

    std::string bytes("rep\0aired", 9);
    ASSERT_TRUE(Recorder(host).AnswerNext(200, bytes));
    ASSERT_TRUE(Recorder(host).AnswerNext(429));
    EXPECT_FALSE(Recorder(host).AnswerNext(200));
    ASSERT_TRUE(host->Settle(5s));

    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.body, bytes);
    EXPECT_EQ(second.status, 429);
    EXPECT_TRUE(second.nonNullData) << "an empty body still comes as a pointer";
    EXPECT_NE(first.thread, std::this_thread::get_id());
    EXPECT_EQ(first.thread, second.thread);
    EXPECT_EQ(host->OutstandingRequests(), 0u);

    // An answered request whose callable still runs is being handled, not unanswered.
    std::atomic<bool> release{false};
    plugin.gameWrapper->Execute([&release](GameWrapper*) {
        HttpWrapper::SendCurlRequest(UploadRequest(), [&release](int, char*, std::size_t) {
            while (!release)
                std::this_thread::sleep_for(1ms);
        });
    });
    host->RunGameWork();
    EXPECT_EQ(host->RequestsBeingHandled(), 0u);
    ASSERT_TRUE(Recorder(host).AnswerNext(200));
    EXPECT_FALSE(host->Settle(50ms));
    EXPECT_EQ(host->RequestsBeingHandled(), 1u);
    release = true;
    ASSERT_TRUE(host->Settle(5s));
}

TEST(HostHttpTest, FailedTransferComesAsStatusZeroWithTheReasonOnTheHostConsole)
{
    TestHost host;
    TestPlugin& plugin = host.Load([](TestPlugin&) {});
    Reply reply;
    SendFromGame(host, plugin, reply);
    Recorder(host).AnswerNext(0);
    ASSERT_TRUE(host->Settle(5s));
    EXPECT_EQ(reply.status, 0);
    EXPECT_TRUE(host.HostSaid("HTTP request to https://repair.example.test/api/ravento failed"));
}

TEST(HostHttpTest, DefaultAnswerRepliesAtOnceEvenToRequestsSentOutsideCallables)
{
    HostOptions options;
    options.transport = std::make_unique<RecordingTransport>(RecordingTransport::Answer{200, "fixed"});
    TestHost host(std::move(options));
    host.Load([](TestPlugin&) {});
    Reply reply;
    HttpWrapper::SendCurlRequest(UploadRequest(), [&reply](int status, char* data, std::size_t size) {
        reply.status = status;
        reply.body.assign(data, size);
    });
    ASSERT_TRUE(host->Settle(5s));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "fixed");
}

TEST(HostHttpTest, UnloadDropsEveryPendingCallableAndReleasesThePlugin)
{
    TestHost host;
    std::atomic<int> droppedCallablesRun{0};
    TestPlugin& plugin = host.Load([&](TestPlugin& self) {
        self.gameWrapper->SetTimeout([&](GameWrapper*) { ++droppedCallablesRun; }, 1.0f);
        self.gameWrapper->HookEventWithCallerPost<ActorWrapper>(
            devhost::kPlayReplayEvent, [&](ActorWrapper, void*, std::string) { ++droppedCallablesRun; });
    });
    Reply reply;
    SendFromGame(host, plugin, reply);
    plugin.gameWrapper->Execute([&](GameWrapper*) { ++droppedCallablesRun; });

    std::weak_ptr<Orvane::Plugin::OrvanePlugin> watch = host->Plugin();
    host->UnloadPlugin();
    EXPECT_EQ(host->PluginLogLines(), (std::vector<std::string>{"test plugin unloaded"}));
    EXPECT_TRUE(watch.expired()) << "the host's reference went and deleteMe ran";
    EXPECT_EQ(TestPlugin::liveObjects, 0);
    EXPECT_FALSE(host->HasPlugin());
    EXPECT_TRUE(host->HookedEvents().empty());
    EXPECT_TRUE(host->PendingTimeouts().empty());

    // The reply arrives after the unload and is discarded; time moves and events fire for nobody.
    ASSERT_TRUE(Recorder(host).AnswerNext(200, "late"));
    ASSERT_TRUE(host->Settle(5s));
    host->Advance(10.0);
    host->PlayReplay("id", "date");
    EXPECT_EQ(reply.status, -1);
    EXPECT_EQ(droppedCallablesRun.load(), 0);
}

TEST(HostHttpTest, UnloadWaitsForAReplyCallableThatIsRunning)
{
    TestHost host;
    TestPlugin& plugin = host.Load([](TestPlugin&) {});
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    plugin.gameWrapper->Execute([&](GameWrapper*) {
        HttpWrapper::SendCurlRequest(UploadRequest(), [&](int, char*, std::size_t) {
            started = true;
            std::this_thread::sleep_for(100ms);
            finished = true;
        });
    });
    host->RunGameWork();
    Recorder(host).AnswerNext(200);
    while (!started)
        std::this_thread::yield();
    host->UnloadPlugin();
    EXPECT_TRUE(finished) << "the plugin was released while its callable ran";
    EXPECT_EQ(TestPlugin::liveObjects, 0);
}
