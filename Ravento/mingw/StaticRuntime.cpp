// The static GCC runtime inside the mingw module (libstdc++, winpthread), made to leave nothing
// behind when the host unloads the module while its own threads live on. Linked into the mingw
// Ravento.dll only; a Microsoft build has neither library.
//
// [SECTION] One-time initialisation without thread records
// libstdc++ runs its one-time initialisations (the C locale, function-local statics) through
// pthread_once. winpthread's pthread_once registers a cleanup handler, which makes it record the
// calling thread (a duplicated thread handle and an event) when that thread is not one of its
// own. A record is freed only when its thread ends while the module is still loaded, so every
// load whose first initialisation ran on the host's reply thread left one behind. The module is
// linked with --wrap=pthread_once, which sends those calls here: the same contract, kept in the
// once flag itself, recording nothing per thread.
//
// [SECTION] The emergency exception pool
// libstdc++ allocates a pool at start-up, for exceptions thrown when the heap is exhausted, and
// frees it only through __gnu_cxx::__freeres(), which nothing calls in a DLL: about 73 KiB per
// load. The module calls it as its last static object goes.
#include <windows.h>

#include <pthread.h>

namespace __gnu_cxx {
void __freeres() noexcept;
}

namespace {

// The states of a pthread_once_t, whose initial value is PTHREAD_ONCE_INIT (0).
constexpr LONG kNotRun = PTHREAD_ONCE_INIT;
constexpr LONG kRunning = 1;
constexpr LONG kDone = 2;

// Destroyed with the module's other statics at unload. The pool serves only exceptions thrown
// while the heap is exhausted, so the order among them does not matter.
struct FreeEmergencyPoolAtUnload {
    ~FreeEmergencyPoolAtUnload() { __gnu_cxx::__freeres(); }
} freeEmergencyPoolAtUnload;

} // namespace

extern "C" int __wrap_pthread_once(pthread_once_t* once, void (*routine)(void))
{
    auto* state = reinterpret_cast<volatile LONG*>(once);
    for (;;) {
        const LONG seen = InterlockedCompareExchange(state, kRunning, kNotRun);
        if (seen == kDone)
            return 0;
        if (seen == kNotRun)
            break;
        // Another thread is running the routine; first-time initialisations are short.
        SwitchToThread();
    }
    try {
        routine();
    } catch (...) {
        // As with pthread_once: a routine that did not finish runs again on the next call.
        InterlockedExchange(state, kNotRun);
        throw;
    }
    InterlockedExchange(state, kDone);
    return 0;
}
