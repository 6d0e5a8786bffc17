// RAVENTO_FAULT(name, call): one system call of the POSIX seam that a fault-injection build can
// make fail on demand, as if the kernel had refused it.
//
// Every call of the POSIX seam whose failure the plugin sees is marked with this macro (and
// RAVENTO_FAULT_NULL for the calls that fail with a null pointer), so a fault can strike the
// plugin's file calls and nothing else in the host. Only a build configured with
// RAVENTO_FAULT_POINTS=ON (the "faults" preset) compiles the points in; everywhere else the
// macro is the call itself, so the shipping module has none.
//
// A point that fails returns -1 with errno set from the failure's information (a plain errno
// value), or EIO when the failure carries none. Names are "ravento/<part>/<call>", shared by
// the sites of one call in one part: "ravento/replay/lstat" is every lstat of the replay's file
// calls (ReplayFiles.cpp and SystemError.cpp), "ravento/directories/stat" the folder queries'
// stat (QueryEntryKind), "ravento/held/..." the checks and the lock on a held file (Hold,
// IsHeldFile, IsOwnFile): apart from the replay's calls, because a lock that cannot be confirmed
// is waited for, not failed, and so is aimed at by plans of its own.
// A call whose result is dropped (the close of a file only read or held, an unlink that tidies
// up after a failure) is not marked: the plugin never sees its failure.
//
// tests/faults/fault_plans.py reads the points from these markings and stops the fault run
// when a point has no plan, a plan names no point, or a seam call whose result is used is not
// marked.
#pragma once

#ifdef RAVENTO_FAULT_POINTS

#include <fiu.h>

#include <cerrno>
#include <cstdint>

namespace platform {

inline bool FaultPointFails(const char* name)
{
    if (fiu_fail(name) == 0)
        return false;
    const auto chosen = reinterpret_cast<std::intptr_t>(fiu_failinfo());
    errno = chosen != 0 ? static_cast<int>(chosen) : EIO;
    return true;
}

} // namespace platform

#define RAVENTO_FAULT(name, call) (::platform::FaultPointFails(name) ? -1 : (call))
#define RAVENTO_FAULT_NULL(name, call) (::platform::FaultPointFails(name) ? nullptr : (call))

#else

#define RAVENTO_FAULT(name, call) (call)
#define RAVENTO_FAULT_NULL(name, call) (call)

#endif
