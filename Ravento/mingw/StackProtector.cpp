// The stack protector's guard and failure routine for the mingw module, in place of libssp's.
// libssp answers a smashed stack with an illegal instruction, an exception that any handler on
// the host's side can catch and carry on from with a corrupted stack. Windows' own runtime ends
// the process at once through __fastfail, which no handler sees; so does this one. Defining the
// guard here too keeps libssp out of the link altogether (its guard and routine share one object).
#include <windows.h>

#include <bcrypt.h>

#include <cstdint>

// What the compiler compares each protected frame against. Not zero before it is drawn, so that
// a frame entered earlier cannot match a zeroed guard by chance.
extern "C" {
std::uintptr_t __stack_chk_guard = 0x2B992DDFA232;

[[noreturn]] void __stack_chk_fail()
{
    // __fastfail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE); mingw's headers lack the intrinsic.
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
    __builtin_unreachable();
}
}

namespace {

// Drawn before any other static initialiser of the module runs. Unprotected itself: its own
// frame would be checked against the guard it replaces.
__attribute__((constructor(101), no_stack_protector)) void DrawStackGuard()
{
    std::uintptr_t drawn = 0;
    if (BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&drawn), sizeof drawn, BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0 &&
        drawn != 0)
        __stack_chk_guard = drawn;
}

} // namespace
