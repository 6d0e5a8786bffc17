#include "pipeline/PipelineFixture.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "RepairsSection.h"
#include "support/WaitUntil.h"

namespace testing_support {
devhost::HostOptions PipelineFixture::Options(std::unique_ptr<devhost::HttpTransport> transport)
{
    if (!transport) {
        auto recording = std::make_unique<devhost::RecordingTransport>();
        recorder = recording.get();
        transport = std::move(recording);
    }
    devhost::HostOptions options;
    options.transport = std::move(transport);
    options.hostLog = [sink = hostLines](const std::string& line) {
        std::lock_guard lock(sink->mutex);
        sink->lines.push_back(line);
    };
    return options;
}

PipelineFixture::PipelineFixture(std::unique_ptr<devhost::HttpTransport> transport)
    : host(std::make_unique<PluginHost>(Options(std::move(transport))))
{
    host->Plugin().demosFolder.Set(demos);
}

void PipelineFixture::Reload()
{
    host.reset();
    host = std::make_unique<PluginHost>(Options(nullptr));
}

std::string PipelineFixture::NewestOutcome()
{
    plugin::RepairSnapshot shown;
    Plugin().repairs.Refresh(shown);
    auto row = std::find_if(shown.rows.begin(), shown.rows.end(), [](auto& row) { return !row.outcome.empty(); });
    return row == shown.rows.end() ? "sending" : row->outcome;
}

std::vector<std::string> PipelineFixture::HostLines() const
{
    std::lock_guard lock(hostLines->mutex);
    return hostLines->lines;
}

std::filesystem::path PipelineFixture::AddReplay(const std::string& id, const std::string& content)
{
    dir.MakeFile(std::filesystem::path("TAGame/Demos") / (id + ".replay"), content);
    return demos / (id + ".replay"); // joined as the plugin joins it
}

void PipelineFixture::Play(const std::string& id, const std::string& date)
{
    host->Host().PlayReplay(id, date);
}

void PipelineFixture::Answer(int status, const std::string& body)
{
    // Settle would wait for every request; only this one is answered.
    std::size_t outstanding = host->Host().OutstandingRequests();
    if (!recorder->AnswerNext(status, body))
        throw std::logic_error("no request is waiting for an answer");
    if (!WaitUntil([&] { return host->Host().OutstandingRequests() < outstanding; }))
        throw std::runtime_error("the reply was not handled in time");
}

std::vector<std::string> Names(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadBytes(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return "<missing>";
    // One read of the whole file: the model test reads files of megabytes after every step.
    std::string bytes;
    std::error_code unknownSize;
    bytes.reserve(static_cast<std::size_t>(std::filesystem::file_size(file, unknownSize)));
    char buffer[1 << 16];
    while (stream.read(buffer, sizeof buffer) || stream.gcount() > 0)
        bytes.append(buffer, static_cast<std::size_t>(stream.gcount()));
    return bytes;
}

} // namespace testing_support
