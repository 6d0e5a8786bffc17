#include "RepairServiceProcess.h"

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace {

std::vector<std::string> ServiceCommand(const std::filesystem::path& program, const std::filesystem::path& folder,
                                        const std::vector<std::string>& options)
{
    std::vector<std::string> command{
        program.string(),         "--port", "0", "--port-file", (folder / "port").string(), "--tls-dir",
        (folder / "tls").string()};
    command.insert(command.end(), options.begin(), options.end());
    return command;
}

} // namespace

RepairServiceProcess::RepairServiceProcess(const std::filesystem::path& program, const std::filesystem::path& folder,
                                           const std::vector<std::string>& options)
    : folder(folder), process(ServiceCommand(program, folder, options), {}, false, folder / "log")
{
    // The service writes its port once it listens (making its certificate first).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(folder / "port")) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("the repair service did not start; see " + (folder / "log").string());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the port file's text is written
    std::ifstream(folder / "port") >> port;
    if (port == 0)
        throw std::runtime_error("the repair service wrote no port; see " + (folder / "log").string());
}
