// The host's configuration file: any bytes read without harm, refused exactly when they pass
// the size or line limit, and whatever is read or written comes back unchanged through a write
// and a read.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include <fmt/format.h>
#include <fuzzer/FuzzedDataProvider.h>

#include "ConfigFile.h"
#include "FuzzCheck.h"
#include "TextLimitsCheck.h"
#include "support/TempDir.h"

namespace {

const testing_support::TempDir& Scratch()
{
    static testing_support::TempDir dir;
    return dir;
}

// A name and value given to the writer come back from the reader, byte for byte.
void CheckLineRoundTrip(const std::string& name, const std::string& value)
{
    std::string line = devhost::FormatConfigLine(name, value);
    FUZZ_CHECK(line.find('\n') == std::string::npos, fmt::format("a line break in {:?}", line));
    auto parsed = devhost::ParseConfigLine(line);
    FUZZ_CHECK(parsed && parsed->first == name && parsed->second == value,
               fmt::format("{:?} = {:?} written as {:?}", name, value, line));
}

// Whatever the reader takes from arbitrary bytes within the limits survives a write and a
// second read; bytes past a limit are refused whole.
void CheckFileRoundTrip(const std::string& bytes, const devhost::TextLimits& limits)
{
    const std::filesystem::path file = Scratch().Path() / "devhost.cfg";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    std::string error;
    CheckTextLimits(bytes, limits, devhost::ReadTextFile(file, limits, error), error);
    devhost::ConfigReadResult first = devhost::ReadConfigFile(file, limits);
    FUZZ_CHECK(first.error == error, fmt::format("{:?} read as a file, {:?} as the configuration", error, first.error));
    if (!first.error.empty())
        return;
    for (const auto& [name, value] : first.values)
        CheckLineRoundTrip(name, value);

    std::error_code written = devhost::WriteConfigFile(file, first.values);
    FUZZ_CHECK(!written, written.message());
    devhost::ConfigReadResult second = devhost::ReadConfigFile(file);
    FUZZ_CHECK(second.values == first.values, "values changed through a write and a read");
    FUZZ_CHECK(second.malformedLines.empty(),
               fmt::format("the writer made {} malformed lines", second.malformedLines.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool()) {
        std::string name = input.ConsumeRandomLengthString();
        std::string value = input.ConsumeRemainingBytesAsString();
        if (!name.empty()) // an entry always has a name
            CheckLineRoundTrip(name, value);
        return 0;
    }
    const auto bytes = input.ConsumeIntegral<unsigned char>();
    const auto line = input.ConsumeIntegral<unsigned char>();
    CheckFileRoundTrip(input.ConsumeRemainingBytesAsString(), SmallTextLimits(bytes, line));
    return 0;
}
