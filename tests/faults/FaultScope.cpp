// ravento_fault_scope: a preload library that configures the fault points of the plugin's
// fault-injection build (Ravento/platform/posix/FaultPoint.h) from the environment. Every file
// call of the plugin's POSIX seam is such a point and nothing else in the process is, so the
// host's console, upload and transport never fail.
//
// Configured by the environment:
//   RAVENTO_FAULTS             "NAME=ERRNO[,ERRNO...][@P][+F][#K] ...": the points, the errno
//                              values they fail with (the first when every call fails, else one
//                              at random), the chance P that a call fails (default 1: every
//                              call; 0 only counts the calls), the first F calls that pass
//                              whatever the chance, and at most K failures
//   RAVENTO_FAULT_SEED         seed of the random choices (default 1)
//   RAVENTO_FAULT_CRASH_AT     N: the N-th call to any of the points kills the process (SIGKILL)
//                              instead of failing: a crash at that step
//   RAVENTO_FAULT_REPORT       file that receives, at exit, one "NAME calls struck" line a point
#include <fiu-control.h>
#include <fiu.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Point {
    std::vector<int> errnos;
    double probability = 1.0;
    std::uint64_t passing = 0;
    std::uint64_t limit = UINT64_MAX;
    std::uint64_t calls = 0;
    std::uint64_t struck = 0;
};

std::string Environment(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? value : fallback;
}

class FaultScope {
public:
    FaultScope()
        : report(Environment("RAVENTO_FAULT_REPORT", "")),
          crashAt(std::strtoull(Environment("RAVENTO_FAULT_CRASH_AT", "0").c_str(), nullptr, 10)),
          random(std::strtoull(Environment("RAVENTO_FAULT_SEED", "1").c_str(), nullptr, 10))
    {
        std::istringstream plan(Environment("RAVENTO_FAULTS", ""));
        for (std::string entry; plan >> entry;)
            Add(entry);
        fiu_init(0);
        for (const auto& [name, point] : points)
            fiu_enable_external(name.c_str(), 1, nullptr, 0, &Decide);
    }

    ~FaultScope()
    {
        for (const auto& [name, point] : points)
            fiu_disable(name.c_str());
        if (report.empty())
            return;
        std::lock_guard lock(mutex);
        std::ofstream out(report);
        for (const auto& [name, point] : points)
            out << name << ' ' << point.calls << ' ' << point.struck << '\n';
    }

    FaultScope(const FaultScope&) = delete;
    FaultScope& operator=(const FaultScope&) = delete;

    // libfiu's external decision: non-zero fails the call, with *failinfo as its errno.
    static int Decide(const char* name, int*, void** failinfo, unsigned int*)
    {
        return Instance().DecideFor(name, failinfo) ? 1 : 0;
    }

    static FaultScope& Instance();

private:
    // "NAME=5,28@0.5+1#2": the point, the errno values it fails with, its chance, the calls
    // that pass first, its limit.
    void Add(const std::string& entry)
    {
        static const std::regex kForm(R"(([^=@+#]+)(?:=([0-9,]+))?(?:@([0-9.]+))?(?:\+([0-9]+))?(?:#([0-9]+))?)");
        std::smatch parts;
        if (!std::regex_match(entry, parts, kForm)) {
            // A plan that cannot be read must not pass as a run without faults.
            std::fprintf(stderr, "ravento_fault_scope: cannot read the fault entry \"%s\"\n", entry.c_str());
            std::_Exit(2);
        }
        Point& point = points[parts[1]];
        std::istringstream values(parts[2]);
        for (std::string value; std::getline(values, value, ',');)
            point.errnos.push_back(std::stoi(value));
        if (point.errnos.empty())
            point.errnos.push_back(EIO);
        if (parts[3].matched)
            point.probability = std::stod(parts[3]);
        if (parts[4].matched)
            point.passing = std::stoull(parts[4]);
        if (parts[5].matched)
            point.limit = std::stoull(parts[5]);
    }

    bool DecideFor(const char* name, void** failinfo)
    {
        std::lock_guard lock(mutex);
        auto found = points.find(name);
        if (found == points.end())
            return false;
        Point& point = found->second;
        ++point.calls;
        if (crashAt != 0 && ++calls == crashAt)
            std::raise(SIGKILL);
        if (crashAt != 0 || point.calls <= point.passing || point.struck >= point.limit || !Chance(point.probability))
            return false;
        const std::size_t pick = point.probability >= 1.0 ? 0 : random() % point.errnos.size();
        *failinfo = reinterpret_cast<void*>(static_cast<std::intptr_t>(point.errnos[pick]));
        ++point.struck;
        return true;
    }

    bool Chance(double probability)
    {
        if (probability >= 1.0)
            return true;
        constexpr std::uint64_t kScale = 1000000;
        return random() % kScale < static_cast<std::uint64_t>(probability * kScale);
    }

    const std::string report;
    const std::uint64_t crashAt;
    std::mutex mutex;
    std::mt19937_64 random;
    std::uint64_t calls = 0; // to any point
    std::map<std::string, Point, std::less<>> points;
};

FaultScope& FaultScope::Instance()
{
    static FaultScope scope;
    return scope;
}

// Enabled before the host's main runs, so the points are in place from its first call on.
__attribute__((constructor)) void EnableFaultPoints()
{
    FaultScope::Instance();
}

} // namespace
