#include "ReliabilityLog.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <fmt/format.h>

void ReportReliability(std::string_view name, std::string_view counts)
{
    const std::string line = fmt::format("[reliability] {}: {}\n", name, counts);
    const char* logPath = std::getenv("RAVENTO_RELIABILITY_LOG");
    std::FILE* log = logPath != nullptr && *logPath != '\0' ? std::fopen(logPath, "a") : nullptr;
    std::fputs(line.c_str(), log != nullptr ? log : stdout);
    if (log != nullptr)
        std::fclose(log);
}
