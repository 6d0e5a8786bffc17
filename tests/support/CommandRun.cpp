#include "support/CommandRun.h"

#include <cstdlib>

#include <fmt/format.h>

#include "support/Files.h"

namespace testing_support {
namespace {

std::string ReadOutput(const std::filesystem::path& file)
{
    std::string text = ReadWholeFile(file);
#if defined(_WIN32)
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            plain += text[i];
    }
    text = std::move(plain);
#endif
    return text;
}

} // namespace

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
    for (int attempt = 1;; ++attempt) {
        run.status = std::system(command.c_str());
        run.out = ReadOutput(out);
        run.err = ReadOutput(err);
#if defined(_WIN32)
        // Under Wine, cmd.exe now and then fails to start a program that is there (its
        // CreateProcess fails; it reports 9009, "Can't recognize ..."). The program never ran, so
        // running the line again is the same run; a program truly missing fails every attempt.
        constexpr int kCouldNotStart = 9009;
        if (run.status == kCouldNotStart && attempt < 3)
            continue;
#endif
        return run;
    }
}

} // namespace testing_support
