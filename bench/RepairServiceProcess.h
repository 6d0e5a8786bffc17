// The stand-in repair service as a child process of a benchmark: on a free loopback port, with
// the certificate it makes in its folder; stopped with SIGTERM when the object goes.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Process.h"

class RepairServiceProcess {
public:
    // Starts program with its port, TLS and log files in folder, plus options.
    RepairServiceProcess(const std::filesystem::path& program, const std::filesystem::path& folder,
                         const std::vector<std::string>& options);

    int Port() const { return port; }
    std::filesystem::path Certificate() const { return folder / "tls" / "certificate.pem"; }
    pid_t Pid() const { return process.Pid(); }
    void Stop() { process.Stop(); }

private:
    std::filesystem::path folder;
    Process process;
    int port = 0;
};
