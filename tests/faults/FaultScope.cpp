// ravento_fault_scope: a preload library that aims libfiu's failure points at the plugin's own
// file work, and at nothing else in the host process.
//
// libfiu's POSIX preload (fiu_posix_preload.so, what `fiu-run -x` loads) puts a failure point
// into open, write, fsync, close, rename, unlink and the directory readers of the whole
// process; the plugin's fault-injection build adds points of its own ("ravento/*").
// Enabled plainly, a write fault would also strike the host's console and its TLS transport.
// fiu-run's stack-based enabling cannot help: it finds the function by name with
// dlsym(RTLD_DEFAULT), and the plugin exports nothing but its entry points and is loaded
// privately. So this library enables each point with a decision function of its own: a call
// fails only when the first caller outside libc, the C++ runtime and libfiu lies in the plugin.
//
// Loaded before fiu_posix_preload.so in LD_PRELOAD, so that its constructor runs after libfiu's
// wrappers are ready (the loader initializes preloaded libraries last to first); configured by
// the environment:
//   RAVENTO_FAULTS             "NAME=ERRNO[,ERRNO...][@P][+F][#K] ...": the points, the errno
//                              values they fail with (the first when every call fails, else one
//                              at random), the chance P that a call of the plugin fails (default
//                              1: every call; 0 only counts the calls), the first F calls that
//                              pass whatever the chance, and at most K failures
//   RAVENTO_FAULT_SEED         seed of the random choices (default 1)
//   RAVENTO_FAULT_CRASH_AT     N: the N-th call of the plugin to any of the points kills the
//                              process (SIGKILL) instead of failing: a crash at that step
//   RAVENTO_FAULT_MODULE       file name of the plugin module (default "Ravento.so")
//   RAVENTO_FAULT_REPORT       file that receives, at exit, one "NAME calls struck" line a point
//
// Two lock-order traps lie between libfiu and the dynamic loader, and both hung devhost while
// it loaded the plugin (its main thread in dlopen, holding the loader's lock, asking libfiu for
// a read lock on behalf of malloc):
// - libfiu's preload keeps each wrapped function's address per thread and looks it up with
//   dlsym on the thread's first call. A thread's first strdup may come from inside libfiu, with
//   libfiu's write lock held; dlsym then waits for the loader's lock. So every thread resolves
//   the wrappers libfiu calls itself before it runs anything (pthread_create below).
// - Deciding whether the plugin made a call must not take the loader's lock either, since it
//   runs under libfiu's read lock: _dl_find_object reads the loaded objects without a lock,
//   where dladdr locks.
#include <dlfcn.h>
#include <execinfo.h>
#include <fiu-control.h>
#include <fiu.h>
#include <link.h>
#include <pthread.h>

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
#include <string_view>
#include <vector>

namespace {

struct Point {
    std::vector<int> errnos;
    double probability = 1.0;
    std::uint64_t passing = 0;
    std::uint64_t limit = UINT64_MAX;
    std::uint64_t calls = 0; // calls made by the plugin
    std::uint64_t struck = 0;
};

std::string Environment(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? value : fallback;
}

std::string_view BaseName(const char* path)
{
    std::string_view text = path != nullptr ? path : "";
    const std::size_t slash = text.rfind('/');
    return slash == std::string_view::npos ? text : text.substr(slash + 1);
}

// Libraries that only pass a call on: the first frame outside them is the real caller.
bool PassesCallsOn(std::string_view object, std::string_view self)
{
    static constexpr std::string_view kPassers[] = {"libc.so",  "libstdc++.so",      "libgcc_s.so",
                                                    "libm.so",  "libfiu.so",         "fiu_posix_preload.so",
                                                    "ld-linux", "fiu_run_preload.so"};
    if (object == self)
        return true;
    for (std::string_view passer : kPassers) {
        if (object.substr(0, passer.size()) == passer)
            return true;
    }
    return false;
}

// The file name of the object that holds code address, without taking the loader's lock; empty
// when no object holds it. The main program's name is empty too, and it is never the plugin.
std::string_view ObjectNameAt(void* address)
{
    dl_find_object found{};
    if (_dl_find_object(address, &found) != 0 || found.dlfo_link_map == nullptr)
        return {};
    return BaseName(found.dlfo_link_map->l_name);
}

// Makes libfiu's preload look up, for the calling thread, the functions libfiu itself calls while
// it holds its locks. Raising the preload's recursion count sends the calls straight to the C
// library, past libfiu's locks.
void ResolveLibfiuWrappers()
{
    auto* recursion = static_cast<int*>(dlsym(RTLD_DEFAULT, "_fiu_called"));
    if (recursion == nullptr)
        return;
    ++*recursion;
    std::free(std::realloc(std::calloc(1, 1), 2));
    std::free(std::malloc(1));
    std::free(strndup(strdup("x"), 1));
    --*recursion;
}

class FaultScope {
public:
    FaultScope()
        : module(Environment("RAVENTO_FAULT_MODULE", "Ravento.so")),
          report(Environment("RAVENTO_FAULT_REPORT", "")),
          crashAt(std::strtoull(Environment("RAVENTO_FAULT_CRASH_AT", "0").c_str(), nullptr, 10)),
          random(std::strtoull(Environment("RAVENTO_FAULT_SEED", "1").c_str(), nullptr, 10))
    {
        selfName = ObjectNameAt(reinterpret_cast<void*>(&Decide));
        ResolveLibfiuWrappers();
        // The first backtrace loads libgcc_s; done now, it never runs inside a failing call.
        void* frames[4];
        backtrace(frames, 4);

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

    bool CalledByPlugin() const
    {
        void* frames[64];
        const int depth = backtrace(frames, 64);
        for (int at = 0; at < depth; ++at) {
            const std::string_view object = ObjectNameAt(frames[at]);
            if (object.empty())
                return false;
            if (!PassesCallsOn(object, selfName))
                return object == module;
        }
        return false;
    }

    bool DecideFor(const char* name, void** failinfo)
    {
        if (!CalledByPlugin())
            return false;
        std::lock_guard lock(mutex);
        auto found = points.find(name);
        if (found == points.end())
            return false;
        Point& point = found->second;
        ++point.calls;
        if (crashAt != 0 && ++pluginCalls == crashAt)
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

    const std::string module;
    const std::string report;
    const std::uint64_t crashAt;
    std::string selfName;
    std::mutex mutex;
    std::mt19937_64 random;
    std::uint64_t pluginCalls = 0;
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

struct ThreadStart {
    void* (*routine)(void*);
    void* argument;
};

void* StartThread(void* start)
{
    ResolveLibfiuWrappers();
    const ThreadStart begin = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    return begin.routine(begin.argument);
}

} // namespace

// Every thread of the host, the TLS transport's included, starts through StartThread.
extern "C" __attribute__((visibility("default"))) int
pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*), void* argument)
{
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    auto* start = new ThreadStart{routine, argument};
    const int status = create(thread, attributes, &StartThread, start);
    if (status != 0)
        delete start;
    return status;
}
