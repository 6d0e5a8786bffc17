// The service against clients and repair commands that break the rules: bodies over the cap in
// any framing, clients that trickle or vanish, and commands that never end.
#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include <fmt/format.h>

#include "ServiceFixture.h"
#include "support/CommandRun.h"
#include "support/Files.h"

using repairservice::ServiceOptions;
using service_testing::WaitUntil;
using service_testing::FormBody;
using service_testing::kFormType;
using service_testing::LiveProcessesInGroup;
using service_testing::OpenFilesIn;
using service_testing::RawConnection;
using service_testing::RunningService;
using testing_support::TempDir;
using namespace std::chrono_literals;

namespace {

int StatusOf(const httplib::Result& result)
{
    return result ? result->status : -1;
}

int TimesLogged(RunningService& service, const std::string& text)
{
    int times = 0;
    for (const std::string& line : service.Log())
        times += line.find(text) != std::string::npos ? 1 : 0;
    return times;
}

bool Logged(RunningService& service, const std::string& text)
{
    return TimesLogged(service, text) > 0;
}

// Sends body chunked, so that no length announces its size; reports how much went out.
httplib::Result PostChunked(RunningService& service, const std::string& body, std::size_t* sent = nullptr)
{
    auto client = service.Client();
    return client->Post(
        "/api/ravento",
        [&body, sent](std::size_t offset, httplib::DataSink& sink) {
            std::size_t piece = std::min<std::size_t>(body.size() - offset, 64 * 1024);
            if (!sink.write(body.data() + offset, piece))
                return false;
            if (sent != nullptr)
                *sent = offset + piece;
            if (offset + piece == body.size())
                sink.done();
            return true;
        },
        kFormType);
}

// How a trickling client talks: over TLS or plain TCP, from which loopback addresses (source and
// the ones after it, in turn), what it sends at once, and what it then sends a byte every 250 ms
// (and "a" after that).
struct Trickle {
    bool tls = true;
    std::string source = "127.0.0.1";
    std::string sentAtOnce;
    std::string trickled;
    int addresses = 1;
};

// The address count places after first: 127.0.0.2 and 3 give 127.0.0.5.
std::string AddressAfter(const std::string& first, int count)
{
    in_addr address{};
    ::inet_pton(AF_INET, first.c_str(), &address);
    address.s_addr = htonl(ntohl(address.s_addr) + static_cast<std::uint32_t>(count));
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &address, text, sizeof text);
}

// Connections that each trickle as they are told until the service ends them or the object goes.
class Tricklers {
public:
    Tricklers(int port, int count, Trickle trickle)
    {
        for (int at = 0; at < count; ++at) {
            connections.push_back(std::make_unique<RawConnection>(
                port, trickle.tls, AddressAfter(trickle.source, at % trickle.addresses)));
            if (connections.back()->Connected()
                && (trickle.sentAtOnce.empty() || connections.back()->Send(trickle.sentAtOnce)))
                ++connected;
        }
        trickling = std::thread([this, opening = trickle.trickled] {
            std::vector<bool> alive(connections.size(), true);
            for (std::size_t byte = 0; !stopping; ++byte) {
                for (std::size_t at = 0; at < connections.size(); ++at) {
                    if (alive[at]
                        && !connections[at]->Send(std::string(1, byte < opening.size() ? opening[byte] : 'a'))) {
                        alive[at] = false;
                        ++ended;
                    }
                }
                std::this_thread::sleep_for(250ms);
            }
        });
    }
    ~Tricklers()
    {
        stopping = true;
        trickling.join();
    }

    // Connections that were made and took what was sent at once.
    int Connected() const { return connected; }
    int Ended() const { return ended; }

private:
    std::vector<std::unique_ptr<RawConnection>> connections;
    int connected = 0;
    std::atomic<bool> stopping{false};
    std::atomic<int> ended{0};
    std::thread trickling;
};

httplib::Result PatientUpload(RunningService& service)
{
    auto client = service.Client();
    client->set_connection_timeout(10s);
    client->set_read_timeout(10s);
    client->set_write_timeout(10s);
    httplib::MultipartFormDataItems form = {{"file", "replay", "R.replay", "application/octet-stream"}};
    return client->Post("/api/ravento", form);
}

// An honest upload from 127.0.0.1 while another client floods the service. Unhindered it is
// answered in milliseconds; a flood that kept the workers would hold it for the 5 s read timeout
// of each connection ahead of it at least, so 2 s is both a clear line and room for a loaded
// machine.
void ExpectHonestUploadServedPromptly(RunningService& service)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(StatusOf(PatientUpload(service)), 200);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 2s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
}

std::string UploadHeader(std::size_t bodyLength)
{
    return fmt::format("POST /api/ravento HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: {}\r\nContent-Length: {}\r\n\r\n",
                       kFormType, bodyLength);
}

// The start of an upload whose body is to be bodyLength bytes: its header and the first bytes of
// its form.
std::string UploadStart(std::size_t bodyLength)
{
    return UploadHeader(bodyLength) + FormBody(std::string(4096, 'x')).substr(0, 200);
}

} // namespace

TEST(HostileClients, TricklingBodiesNeitherLockOutAnHonestUploadNorStayOpen)
{
    RunningService service;
    // As many as there are workers, from one address: each sends its header and 4 KiB of its
    // file at once, so its rate counts from the start, and then a byte every 250 ms.
    const std::string form = FormBody(std::string(4096, 'x'));
    Tricklers tricklers(service.Port(), 64,
                        {true, "127.0.0.2", UploadHeader(100000) + form.substr(0, form.rfind("\r\n--")), ""});
    ExpectHonestUploadServedPromptly(service);
    // Every trickling body is cut soon after its first second, however steadily its bytes come.
    EXPECT_TRUE(WaitUntil([&] { return tricklers.Ended() == 64; }, 10s)) << tricklers.Ended() << " of 64 ended";
    // And the address is served again once its connections are gone.
    RawConnection again(service.Port(), true, "127.0.0.2");
    EXPECT_TRUE(again.Connected());
}

TEST(HostileClients, SteadyBodiesFromThreeAddressesLeaveWorkersForAnHonestUpload)
{
    ServiceOptions options;
    options.minBodyBytesPerSecond = 1; // a byte every 250 ms keeps above it
    options.workerThreads = 16;
    options.requestsInProgress = 12;
    options.requestsInProgressPerAddress = 3; // three addresses leave room below the bound
    RunningService service(options);
    // More bodies than workers, each kept above the rate for ever.
    const std::string form = FormBody(std::string(4096, 'x'));
    std::vector<std::unique_ptr<Tricklers>> flood;
    for (int address = 2; address <= 4; ++address)
        flood.push_back(std::make_unique<Tricklers>(
            service.Port(), 6,
            Trickle{true, fmt::format("127.0.0.{}", address), UploadHeader(100000) + form.substr(0, 4096), ""}));
    ExpectHonestUploadServedPromptly(service);
    EXPECT_TRUE(Logged(service, "-> 503 (")) << "no body beyond the bound was turned away";
}

TEST(HostileClients, BodiesThatTakeEverySlotGiveOneUpToAnHonestUpload)
{
    ServiceOptions options;
    options.minBodyBytesPerSecond = 0; // no floor: only giving a slot up can make room
    options.bodyGrace = 0ms; // judged from their header on, so the test need not wait
    options.workerThreads = 16;
    options.requestsInProgress = 8;
    options.requestsInProgressPerAddress = 2;
    RunningService service(options);
    // Three bodies from each of four addresses, each announcing 100 MiB and sending a byte every
    // 250 ms: two from each take the eight slots, the third from each is turned away.
    Tricklers flood(service.Port(), 12, {true, "127.0.0.2", UploadStart(std::size_t{100} << 20), "", 4});
    ASSERT_TRUE(WaitUntil([&] { return TimesLogged(service, "-> 503 (") == 4; }))
        << TimesLogged(service, "-> 503 (") << " of 4 turned away";

    ExpectHonestUploadServedPromptly(service);
    // Besides the four turned away, one body gave its slot up, and only one.
    EXPECT_TRUE(WaitUntil([&] { return flood.Ended() == 5; })) << flood.Ended() << " of 5 ended";
}

TEST(HostileClients, BodiesFarBelowTheFloorFromManyAddressesLeaveAfterTheirFirstSecond)
{
    ServiceOptions options;
    options.workerThreads = 16;
    options.requestsInProgress = 8;
    RunningService service(options);
    // Each from an address of its own, so no per-address bound ends them: eight take every slot.
    Tricklers flood(service.Port(), 12, {true, "127.0.0.2", UploadStart(100000), "", 12});
    EXPECT_TRUE(WaitUntil([&] { return flood.Ended() == 12; }, 5s)) << flood.Ended() << " of 12 ended";
    ExpectHonestUploadServedPromptly(service);
}

TEST(HostileClients, RefusedUploadsAreClosedAtOnceOrWithinTheirGrace)
{
    ServiceOptions options;
    options.maxUploadBytes = 1000;
    options.uploadLimit = 2; // the two over the cap count
    RunningService service(options);
    const std::string whole = UploadHeader(FormBody(std::string(4000, 'x')).size()) + FormBody(std::string(4000, 'x'));
    const struct {
        const char* what;
        std::string sent; // a part of the body only, but for the last
        const char* answer; // the start of the answer read before the end
    } refusals[] = {
        {"announced over the cap", UploadStart(5000), "HTTP/1.1 413 "},
        {"chunked past the cap",
         fmt::format("POST /api/ravento HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: {}\r\n"
                     "Transfer-Encoding: chunked\r\n\r\n1000\r\n{}",
                     kFormType, FormBody(std::string(4096, 'x')).substr(0, 2000)),
         "HTTP/1.1 413 "},
        // The rest of a refused body is read and dropped within its grace only: this one is cut
        // then, without an answer, and the next one is answered when it has been sent whole.
        {"beyond the upload limit, the body never ending", UploadStart(5000), ""},
        {"beyond the upload limit", whole, "HTTP/1.1 429 "},
    };
    for (const auto& refusal : refusals) {
        RawConnection client(service.Port(), true, "127.0.0.2");
        EXPECT_TRUE(client.Send(refusal.sent)) << refusal.what;
        EXPECT_TRUE(client.EndedByService(5s)) << refusal.what << ": still open after 5 s";
        EXPECT_EQ(client.Received().rfind(refusal.answer, 0), 0u) << refusal.what << ": " << client.Received();
    }
}

TEST(HostileClients, ThousandsOfIdleConnectionsDoNotLockOutAnHonestUpload)
{
    RunningService service;
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int at = 0; at < 2000; ++at) {
        idle.push_back(std::make_unique<RawConnection>(service.Port(), false, "127.0.0.2"));
        ASSERT_TRUE(idle.back()->Connected()) << "connection " << at;
    }
    ExpectHonestUploadServedPromptly(service);
}

TEST(HostileClients, IdleConnectionsGiveTheirWorkersUpWhileAClientWaits)
{
    // Each idle client from an address of its own, so only scarcity can end them early.
    ServiceOptions options;
    options.workerThreads = 4;
    options.keepAliveTimeout = 60s;
    options.requestTimeout = 60s;
    RunningService service(options);
    const std::string upload = UploadHeader(FormBody("replay").size()) + FormBody("replay");
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int at = 0; at < 4; ++at) {
        idle.push_back(std::make_unique<RawConnection>(service.Port(), true, fmt::format("127.0.0.{}", at + 2)));
        EXPECT_TRUE(idle.back()->Send(upload));
    }
    ASSERT_TRUE(WaitUntil([&] { return service.Log().size() == 4; })) << "the idle clients were not answered";

    ExpectHonestUploadServedPromptly(service);
    // Those idle for long enough when the honest client came were cut; one is all it needed.
    int ended = 0;
    for (auto& connection : idle)
        ended += connection->EndedByService(1s) ? 1 : 0;
    EXPECT_GE(ended, 1);
}

TEST(HostileClients, TheCapHoldsForChunkedUploadsAndReadingStopsThere)
{
    ServiceOptions options;
    options.maxUploadBytes = 1000;
    options.uploadLimit = 100;
    RunningService service(options);

    httplib::Result small = PostChunked(service, FormBody(std::string(1000, 's')));
    ASSERT_EQ(StatusOf(small), 200);
    EXPECT_EQ(small->body, std::string(1000, 's'));
    // The service reads no further than the cap and closes the connection with its answer; a
    // client like this one, which reads the answer only after its whole body, sees it when the
    // rest of its body fits into the connection's buffers.
    EXPECT_EQ(StatusOf(PostChunked(service, FormBody(std::string(1500, 'x')))), 413);

    // A body far beyond the cap: the client cannot push the rest.
    const std::string endless = FormBody(std::string(std::size_t{256} << 20, 'x'));
    std::size_t sent = 0;
    PostChunked(service, endless, &sent);
    EXPECT_LT(sent, std::size_t{64} << 20);
    EXPECT_TRUE(Logged(service, "-> 413 (chunked in"));
}

TEST(HostileClients, TwelveTricklingClientsDoNotKeepAnHonestUploadWaiting)
{
    RunningService service;
    Tricklers tricklers(service.Port(), 12, {true, "127.0.0.1", "", "POST /api/ravento HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: "});
    EXPECT_EQ(tricklers.Connected(), 12);
    EXPECT_EQ(StatusOf(PatientUpload(service)), 200);
    EXPECT_EQ(tricklers.Ended(), 0);
    // Stopping does not wait for the tricklers to finish their requests.
    service.Stop();
}

TEST(HostileClients, ConnectionsThatMissTheRequestDeadlineAreCut)
{
    // Few workers, so that every one is taken by a client that never finishes its handshake.
    ServiceOptions options;
    options.workerThreads = 4;
    options.requestTimeout = 1s;
    RunningService service(options);
    Tricklers tricklers(service.Port(), 12, {false, "127.0.0.1", "", std::string("\x16\x03\x01\x40\x00", 5)});
    // Connected before the upload, so they are ahead of it in the service's accept queue.
    EXPECT_EQ(tricklers.Connected(), 12);
    EXPECT_EQ(StatusOf(PatientUpload(service)), 200);
    EXPECT_TRUE(WaitUntil([&] { return tricklers.Ended() == 12; }));
}

TEST(HostileClients, ARepairCommandThatOutlivesItsTimeoutIsKilledWithItsGroup)
{
    TempDir dir;
    const std::filesystem::path groupFile = dir.Path() / "group";
    ServiceOptions options;
    options.repairTimeout = 1s;
    options.repairCommand = fmt::format("echo $$ > {}; sleep 600 & sleep 600", groupFile.string());
    RunningService service(options);

    EXPECT_EQ(StatusOf(service.Upload("replay")), 500);
    const pid_t group = std::stoi(testing_support::ReadWholeFile(groupFile));
    EXPECT_TRUE(WaitUntil([&] { return LiveProcessesInGroup(group).empty(); }));
    EXPECT_TRUE(Logged(service, "-> 500 (")) << "no line for the answer";
    EXPECT_TRUE(Logged(service, "did not finish within 1 seconds")) << "no reason in the log";
}

TEST(HostileClients, ARepairCommandThatWritesWithoutEndIsKilledAtTheCap)
{
    TempDir scratch;
    const std::filesystem::path groupFile = scratch.Path() / "group";
    TempDir temporary;
    ServiceOptions options;
    options.temporaryFolder = temporary.Path();
    options.maxUploadBytes = 1 << 20; // the repaired replay's cap by default too
    options.repairCommand = fmt::format(
        "echo $$ > {}; read -r what; case $what in endless) yes;; *) yes error | head -c 9000000 >&2; head -c {} /dev/zero;; esac",
        groupFile.string(), options.maxUploadBytes);
    RunningService service(options);

    EXPECT_EQ(StatusOf(service.Upload("endless\n")), 500);
    EXPECT_TRUE(Logged(service, "repair command wrote more than 1048576 bytes")) << "no reason in the log";
    const pid_t group = std::stoi(testing_support::ReadWholeFile(groupFile));
    EXPECT_TRUE(WaitUntil([&] { return LiveProcessesInGroup(group).empty(); }));
    EXPECT_TRUE(WaitUntil([&] { return OpenFilesIn(temporary.Path()) == 0; }));
    EXPECT_TRUE(std::filesystem::is_empty(temporary.Path()));

    // Exactly the cap is still a repaired replay, and the flood on the command's standard error
    // reaches the service's only in part.
    testing::internal::CaptureStderr();
    httplib::Result full = service.Upload("full\n");
    const std::string errors = testing::internal::GetCapturedStderr();
    ASSERT_EQ(StatusOf(full), 200);
    EXPECT_EQ(full->body, std::string(options.maxUploadBytes, '\0'));
    EXPECT_LT(errors.size(), std::size_t{64} << 10);
    EXPECT_NE(errors.find("more bytes of its standard error dropped"), std::string::npos);
}

TEST(HostileClients, NoUploadFileOutlivesItsRequestWhateverTheOutcome)
{
    TempDir scratch;
    ServiceOptions options;
    options.temporaryFolder = scratch.Path();
    options.bytesInMemory = 0; // every upload on disk, where the checks can see it
    options.maxUploadBytes = 100000;
    options.uploadLimit = 100;
    options.repairTimeout = 1s;
    options.repairCommand = "read -r what; case $what in fail) exit 1;; bad) exit 3;; hang) sleep 600;; *) cat;; esac";
    RunningService service(options);
    auto noneLeft = [&] { return OpenFilesIn(scratch.Path()) == 0 && std::filesystem::is_empty(scratch.Path()); };

    const struct {
        const char* what;
        std::function<int()> send;
        int status;
    } outcomes[] = {
        {"repaired", [&] { return StatusOf(service.Upload("ok\nreplay")); }, 200},
        {"cannot be repaired", [&] { return StatusOf(service.Upload("bad\n")); }, 400},
        {"command failed", [&] { return StatusOf(service.Upload("fail\n")); }, 500},
        {"command timed out", [&] { return StatusOf(service.Upload("hang\n")); }, 500},
        {"no file part", [&] { return StatusOf(service.Upload("ok\n", "other")); }, 400},
        // A little over, so that the client has sent it all before it reads the answer.
        {"over the cap", [&] { return StatusOf(PostChunked(service, FormBody(std::string(110000, 'x')))); }, 413},
        {"client vanished mid-body",
         [&] {
             RawConnection client(service.Port(), true);
             client.Send(fmt::format("POST /api/ravento HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: {}\r\n"
                                     "Content-Length: 50000\r\n\r\n{}",
                                     kFormType, FormBody(std::string(20000, 'v')).substr(0, 10000)));
             return 0;
         },
         0},
    };
    for (const auto& outcome : outcomes) {
        EXPECT_EQ(outcome.send(), outcome.status) << outcome.what;
        EXPECT_TRUE(WaitUntil(noneLeft)) << "a file is left after: " << outcome.what;
    }

    // While a command runs its upload is open (so the check above can see one), and stopping
    // the service closes it.
    auto hanging = std::async(std::launch::async, [&] { return StatusOf(service.Upload("hang\n")); });
    EXPECT_TRUE(WaitUntil([&] { return OpenFilesIn(scratch.Path()) > 0; }));
    service.Stop();
    EXPECT_NE(hanging.get(), 200);
    EXPECT_TRUE(noneLeft());
}
