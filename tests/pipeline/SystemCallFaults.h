// Fails the plugin's system calls one at a time, for SystemCallFaultsTest. The interposers (one
// file a platform) sit in front of the system's calls and ask this plan whether a call counts
// and whether it fails. Only calls on paths under the armed root, or on handles opened there,
// count: the host's and the test's own calls pass untouched.
#pragma once

#include <cstdint>
#include <filesystem>

namespace system_call_faults {

using NativeChar = std::filesystem::path::value_type;

// Puts the interposers in front of the system's calls (Windows patches the program's import
// table; on POSIX the program's own definitions already come first).
void InstallInterposers();

// From now on calls under root count; the failAt-th fails (0: none). noReplaceUnsupported makes
// a move that must not replace fail as on a file system without that kind of move (POSIX).
void Arm(const std::filesystem::path& root, int failAt, bool noReplaceUnsupported);

struct Counts {
    int calls = 0;
    int struck = 0;
    int flushes = 0; // of handles opened under the root
};
Counts Disarm();

// For the interposers.
bool UnderRoot(const NativeChar* path);
bool NoReplaceUnsupported();
bool StrikesPath(const NativeChar* path); // counts the call; true when it is the one to fail
bool StrikesHandle(std::intptr_t handle);
bool StrikesFlush(std::intptr_t handle); // StrikesHandle for a flush, which it also counts
void Track(std::intptr_t handle, const NativeChar* path); // a handle opened under the root
void Untrack(std::intptr_t handle);

} // namespace system_call_faults
