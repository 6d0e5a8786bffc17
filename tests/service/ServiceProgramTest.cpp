// The service program as an operator runs it: its --help, and how it stops.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <future>
#include <regex>

#include <fmt/format.h>
#include <httplib.h>

#include "RepairService.h"
#include "ServiceFixture.h"
#include "support/CommandRun.h"
#include "support/Files.h"

using repairservice::ServiceOptions;
using service_testing::WaitUntil;
using service_testing::LiveProcessesInGroup;
using testing_support::ReadWholeFile;
using testing_support::TempDir;
using namespace std::chrono_literals;

extern char** environ;

namespace {

const std::string kProgram = SERVICE_PROGRAM_PATH;

// The program in the background with its output in a file; killed if a test leaves it running.
class ServiceProgram {
public:
    ServiceProgram(const TempDir& dir, std::vector<std::string> options)
    {
        std::vector<std::string> args = {kProgram,
                                         "--port",
                                         "0",
                                         "--port-file",
                                         (dir.Path() / "port").string(),
                                         "--tls-dir",
                                         (dir.Path() / "tls").string()};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (dir.Path() / "service.log").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(dir.Path() / "port"); }));
        port = std::stoi(ReadWholeFile(dir.Path() / "port"));
    }
    ~ServiceProgram()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    int Port() const { return port; }
    void Signal(int signal) const { ::kill(pid, signal); }
    // True, with its wait status, when the program ends within timeout.
    bool Ended(std::chrono::milliseconds timeout, int& status)
    {
        bool ended = WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout);
        if (ended)
            pid = -1;
        return ended;
    }

private:
    pid_t pid = -1;
    int port = 0;
};

} // namespace

TEST(ServiceProgram, StopsPromptlyOnSigtermAndKillsAHungRepairCommand)
{
    TempDir dir;
    const std::filesystem::path groupFile = dir.Path() / "group";
    ServiceProgram program(dir,
                           {"--repair-command", fmt::format("echo $$ > {}; sleep 600", groupFile.string()),
                            "--temp-dir", dir.MakeFolder("scratch").string()});
    auto upload = std::async(std::launch::async, [&] {
        httplib::SSLClient client("127.0.0.1", program.Port());
        client.set_ca_cert_path((dir.Path() / "tls" / "certificate.pem").c_str());
        client.set_read_timeout(60s);
        httplib::MultipartFormDataItems form = {{"file", "replay", "R.replay", "application/octet-stream"}};
        httplib::Result result = client.Post("/api/ravento", form);
        return result ? result->status : -1;
    });
    ASSERT_TRUE(WaitUntil([&] { return !ReadWholeFile(groupFile).empty(); }));
    const pid_t group = std::stoi(ReadWholeFile(groupFile));

    program.Signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(program.Ended(10s, status)) << "the service still runs 10 s after SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(WaitUntil([&] { return LiveProcessesInGroup(group).empty(); }));
    EXPECT_NE(upload.get(), 200);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path() / "scratch"));
    EXPECT_NE(ReadWholeFile(dir.Path() / "service.log").find("stopping"), std::string::npos);
}

TEST(ServiceProgram, HelpShowsTheDefaultsTheServiceUses)
{
    TempDir dir;
    const std::string help = testing_support::RunCommand(kProgram + " --help", dir.Path()).out;
    const ServiceOptions defaults;
    auto shown = [&](const std::string& option) {
        std::smatch match;
        return std::regex_search(help, match, std::regex(option + " [A-Z:]+=(\\d+)")) ? match[1].str() : "missing";
    };
    EXPECT_EQ(shown("--upload-limit"), std::to_string(defaults.uploadLimit));
    EXPECT_EQ(shown("--upload-window"), std::to_string(defaults.uploadWindow.count()));
    EXPECT_EQ(shown("--max-upload-bytes"), std::to_string(defaults.maxUploadBytes));
    EXPECT_EQ(shown("--repair-timeout"), std::to_string(defaults.repairTimeout.count()));
    EXPECT_NE(help.find("malformed"), std::string::npos) << "--help does not say malformed uploads count";

    // A usage error exits 2, as devhost's do, and points to --help.
    const testing_support::CommandRun mistyped = testing_support::RunCommand(kProgram + " --prot 8443", dir.Path());
    EXPECT_TRUE(WIFEXITED(mistyped.status) && WEXITSTATUS(mistyped.status) == 2) << mistyped.status;
    EXPECT_NE(mistyped.err.find("see --help"), std::string::npos) << mistyped.err;
}
