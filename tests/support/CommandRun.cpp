#include "support/CommandRun.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include <fmt/format.h>

namespace testing_support {

CommandRun RunCommand(const std::string& commandLine, const std::filesystem::path& outputFolder)
{
    const auto out = outputFolder / "out.txt";
    const auto err = outputFolder / "err.txt";
    std::string command = fmt::format("{} > \"{}\" 2> \"{}\"", commandLine, out.string(), err.string());
#if defined(_WIN32)
    // cmd.exe strips the first and the last quote of the line; one more pair keeps the paths quoted.
    command = "\"" + command + "\"";
#endif
    CommandRun run;
    run.status = std::system(command.c_str());
    run.out = ReadText(out);
    run.err = ReadText(err);
    return run;
}

std::string ReadText(const std::filesystem::path& file)
{
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace testing_support
