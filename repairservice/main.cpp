// ravento-repair-service: the stand-in repair service for development and tests.
#include <signal.h>
#include <stdlib.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "RepairCommand.h"
#include "RepairService.h"
#include "SelfSignedCertificate.h"

namespace {

// What the program adds to the service's own options; their defaults stay in ServiceOptions.
struct CommandLine {
    repairservice::ServiceOptions service;
    int port = 0;
    std::filesystem::path portFile;
    std::string hostName = RAVENTO_SERVICE_HOST;
    std::filesystem::path certificate;
    std::filesystem::path privateKey;
    std::filesystem::path tlsFolder;
};

const std::string kHelpFooter =
    fmt::format("This service does NOT repair replays by itself: without --repair-command it answers every\n"
                "upload with the uploaded bytes unchanged. A repair command runs through /bin/sh -c, gets the\n"
                "upload on standard input and writes the repaired replay to standard output; exit code 0 means\n"
                "repaired (200), {} means \"cannot be repaired\" (400), anything else is a failure (500). A command\n"
                "still running after --repair-timeout, or one that writes more than --max-repaired-bytes, is\n"
                "killed with its whole process group (500). SIGTERM or SIGINT stops the service within seconds\n"
                "and kills any running command.\n"
                "\n"
                "Every upload counts against its client's --upload-limit, malformed ones and ones over\n"
                "--max-upload-bytes too; only uploads refused for the limit (429) do not.\n"
                "\n"
                "Each connection holds one of 64 workers. A request header must arrive within 10 seconds, a\n"
                "body must average --min-body-rate after a grace of {:g} s, connections idle between\n"
                "requests are closed while another client waits for a worker, and one client address holds\n"
                "at most --connections-per-address connections. At most {} requests are in progress at once,\n"
                "{} from one address, so that some workers are always free for new clients. A request beyond\n"
                "the address's share is answered 503 at once; one beyond the whole takes the place of the\n"
                "body that would finish last at its pace so far, if that is more than {} seconds away, and\n"
                "is answered 503 only when no body is that slow. An upload refused for the limit (429) is\n"
                "answered once what of its body arrives within that grace (at most 4 MiB) is dropped, one\n"
                "refused for its size (413) without reading further; either closes its connection.",
                repairservice::kCannotRepairExitCode,
                std::chrono::duration<double>(repairservice::ServiceOptions{}.bodyGrace).count(),
                repairservice::ServiceOptions{}.requestsInProgress,
                repairservice::ServiceOptions{}.requestsInProgressPerAddress,
                repairservice::ServiceOptions{}.slowBody.count());

void Print(const std::string& line)
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// Written whole and then renamed, so a script polling for the file never reads half a number.
void WritePortFile(const std::filesystem::path& file, int port)
{
    std::filesystem::path partial = file;
    partial += ".part";
    std::ofstream(partial) << port << "\n";
    std::filesystem::rename(partial, file);
}

// A folder of our own for generated TLS files; removed again at exit.
std::filesystem::path MakeTemporaryFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "ravento-repair-service-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder for the TLS files");
    return pattern;
}

int Serve(CommandLine& options, sigset_t stopSignals)
{
    std::filesystem::path generatedFolder;
    repairservice::ServiceOptions& service = options.service;
    if (!options.certificate.empty()) {
        service.tls = {options.certificate, options.privateKey};
    } else {
        std::filesystem::path folder = options.tlsFolder;
        if (folder.empty())
            folder = generatedFolder = MakeTemporaryFolder();
        service.tls = repairservice::MakeSelfSignedCertificate(folder, options.hostName);
    }
    service.requestLog = Print;

    repairservice::RepairService server(service);
    int port = server.Start(options.port);
    Print(fmt::format("certificate: {}", service.tls.certificate.string()));
    Print(fmt::format("listening on https://127.0.0.1:{}/api/ravento", port));
    if (service.repairCommand.empty())
        Print("no repair command: uploads are answered unchanged");
    if (!options.portFile.empty())
        WritePortFile(options.portFile, port);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    Print("stopping");
    server.Stop();
    if (!generatedFolder.empty())
        std::filesystem::remove_all(generatedFolder);
    return 0;
}

// A whole number of seconds on the command line, shown with its default from the options.
void AddSecondsOption(CLI::App& app, const std::string& name, std::chrono::seconds& value, const std::string& what)
{
    app.add_option_function<long long>(
           name, [&value](long long seconds) { value = std::chrono::seconds(seconds); }, what)
        ->default_str(std::to_string(value.count()))
        ->check(CLI::PositiveNumber);
}

} // namespace

int main(int argc, char** argv)
{
    CommandLine options;
    CLI::App app{"Stand-in Ravento repair service: HTTPS on 127.0.0.1, POST /api/ravento with a multipart part "
                 "\"file\"."};
    app.footer(kHelpFooter);
    app.add_option("--port", options.port, "Port to listen on; 0 picks a free one (printed)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--port-file", options.portFile, "Also write the bound port into this file");
    app.add_option("--host-name", options.hostName, "Host name the generated certificate is valid for")
        ->capture_default_str();
    auto* certificate = app.add_option("--cert", options.certificate, "PEM certificate (default: generate one)");
    auto* key = app.add_option("--key", options.privateKey, "PEM private key belonging to --cert");
    certificate->needs(key);
    key->needs(certificate);
    app.add_option("--tls-dir", options.tlsFolder,
                   "Folder for the generated certificate.pem and key.pem (default: a temporary folder)")
        ->excludes(certificate);
    repairservice::ServiceOptions& service = options.service;
    app.add_option("--upload-limit", service.uploadLimit,
                   "Uploads allowed per client address in the window; malformed uploads count too")
        ->capture_default_str();
    AddSecondsOption(app, "--upload-window", service.uploadWindow, "Length of the sliding window in seconds");
    app.add_option("--max-upload-bytes", service.maxUploadBytes,
                   "Uploads over this many bytes, with a length or chunked, are answered 413")
        ->capture_default_str();
    app.add_option("--repair-command", service.repairCommand, "Shell command that repairs one replay (see below)");
    AddSecondsOption(app, "--repair-timeout", service.repairTimeout,
                     "Seconds a repair command may run before it is killed (500)");
    app.add_option("--max-repaired-bytes", service.maxRepairedBytes,
                   "A repair command that writes more is killed (500); 0: the same as --max-upload-bytes")
        ->capture_default_str();
    app.add_option("--connections-per-address", service.connectionsPerAddress,
                   "Connections one client address may hold at once; more are closed at once")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--min-body-rate", service.minBodyBytesPerSecond,
                   "Bytes per second a request body must average after its grace; 0: no minimum")
        ->capture_default_str();
    app.add_option("--temp-dir", service.temporaryFolder,
                   "Folder for uploads over 256 KiB while they are repaired; smaller ones stay in memory "
                   "(default: the system's temporary folder)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        // Usage errors exit 2, as devhost's and the scripts' do, not with CLI11's own codes.
        std::fprintf(stderr, "ravento-repair-service: %s\nravento-repair-service: see --help for the options\n",
                     error.what());
        return 2;
    }

    // A client that hangs up mid-answer must not end the whole service.
    ::signal(SIGPIPE, SIG_IGN);

    // Signals are taken by sigwait in main; blocked before any thread starts so none takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    try {
        return Serve(options, stopSignals);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ravento-repair-service: %s\n", error.what());
        return 1;
    }
}
