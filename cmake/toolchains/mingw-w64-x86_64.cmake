# Cross build for Windows x64 with Debian's mingw-w64 (POSIX thread model), tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RAVENTO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RAVENTO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RAVENTO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RAVENTO_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${RAVENTO_MINGW_TRIPLE}-objdump)
set(CMAKE_OBJCOPY ${RAVENTO_MINGW_TRIPLE}-objcopy)

# Libraries and headers come from the mingw-w64 sysroot only; tools from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${RAVENTO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime: libgcc, libstdc++ and winpthread are linked statically (-static picks the static
# archives), so every binary needs only system DLLs. The C runtime stays the shared msvcrt.dll,
# on purpose: Dear ImGui's context, heaps and globals cross the boundary between the host and
# the plugin module, which only works when both allocate from one C runtime heap, and
# msvcrt's malloc is that one shared heap for every module of the process.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# A module exports what carries an explicit dllexport marker and nothing else.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--exclude-all-symbols")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${CMAKE_SHARED_LINKER_FLAGS_INIT}")

# ctest runs the Windows programs under Wine, in a throwaway prefix inside the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)
