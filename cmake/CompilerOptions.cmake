# Warnings and sanitizers for every target of the project. Only C and C++ sources get them:
# the Windows version resource goes through windres (or rc), which knows none of these flags.
# Each compiler gets its own spelling; the flags of GCC and Clang never reach Microsoft's.
set(RAVENTO_COMPILED_LANGUAGES "$<COMPILE_LANGUAGE:C,CXX>")
if(MSVC)
    # /utf-8: the sources are UTF-8, and so must be the narrow literals the tests compare.
    add_compile_options("$<${RAVENTO_COMPILED_LANGUAGES}:/W4;/permissive-;/utf-8;/Zc:__cplusplus>")
    # The date test checks the plugin's date reader against std::sscanf: standard C functions stay
    # usable without warnings, since their _s variants are not portable.
    add_compile_definitions(_CRT_SECURE_NO_WARNINGS)
    if(RAVENTO_WARNINGS_AS_ERRORS)
        add_compile_options("$<${RAVENTO_COMPILED_LANGUAGES}:/WX>")
    endif()
else()
    add_compile_options("$<${RAVENTO_COMPILED_LANGUAGES}:-Wall;-Wextra;-Wpedantic>")
    if(RAVENTO_WARNINGS_AS_ERRORS)
        add_compile_options("$<${RAVENTO_COMPILED_LANGUAGES}:-Werror>")
    endif()
endif()

if(RAVENTO_SANITIZE)
    if(MSVC)
        message(FATAL_ERROR "RAVENTO_SANITIZE is for GCC and Clang builds")
    endif()
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

if(RAVENTO_TSAN)
    if(RAVENTO_SANITIZE)
        message(FATAL_ERROR "RAVENTO_TSAN and RAVENTO_SANITIZE cannot be combined: pick one sanitizer")
    endif()
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# The coverage build (GCC, native or mingw-w64): every object counts its lines and branches for
# gcovr. The threaded tests update the counters from several threads at once; without atomic
# updates the counts can come out negative, which gcovr refuses. It may run under AddressSanitizer
# and UndefinedBehaviorSanitizer too (the native suite does, so it is built once); ThreadSanitizer
# cannot share a build with the counters.
if(RAVENTO_COVERAGE)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR RAVENTO_TSAN)
        message(FATAL_ERROR "RAVENTO_COVERAGE needs GCC and no ThreadSanitizer")
    endif()
    add_compile_options("$<${RAVENTO_COMPILED_LANGUAGES}:--coverage;-fprofile-update=atomic>")
    add_link_options(--coverage)
    # Three of GCC's checks add branches of their own before the counters are placed, which the
    # report would count as the plugin's: the scope ends AddressSanitizer marks, the check of every
    # bool loaded and of every argument to a nonnull parameter. The plugin's sources, which the
    # report counts, leave them out (Ravento/CMakeLists.txt); the fuzzing build (clang) has them.
    if(RAVENTO_SANITIZE)
        set(RAVENTO_COUNTED_CODE_OPTIONS -fno-sanitize-address-use-after-scope -fno-sanitize=bool,nonnull-attribute)
    endif()
endif()

# The fuzzing build (clang only): every target gets libFuzzer's coverage instrumentation and the
# sanitizers; the fuzz targets themselves link libFuzzer's main (fuzz/CMakeLists.txt).
# __FILE__ relative to the source tree on every build, so that what a program prints of it (the
# registration record's declaring file) names no folder of the machine that built it.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_compile_options("$<${RAVENTO_COMPILED_LANGUAGES}:-fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=>")
endif()

if(RAVENTO_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

# Shared libraries carry their own copies of static libraries (Dear ImGui above all) and must
# not export them: each module keeps its own, the way the real host and plugin do. Microsoft's
# linker exports only what is marked for export, so it needs no such switch.
if(NOT MSVC)
    set(RAVENTO_HIDE_STATIC_LIBS "LINKER:--exclude-libs,ALL")
endif()
if(NOT WIN32 AND NOT RAVENTO_FUZZ)
    # A Windows DLL can never have undefined symbols; an ELF module must be told.
    # (clang links its sanitizer runtimes only into programs, so the fuzzing build cannot ask.)
    set(RAVENTO_NO_UNDEFINED "LINKER:--no-undefined")
endif()

# The mingw build: stack protector (libssp, linked statically like the rest of the runtime; the
# module has its own, Ravento/mingw/StackProtector.cpp), no link time stamp from the linker, a
# build id in a CodeView debug directory, and no checkout or build folder in the output:
# __FILE__ is relative to the source tree (sourceFile reads "Ravento/Ravento.h") and the debug
# information names the sources under /ravento (gdb: set substitute-path /ravento <checkout>).
# So two builds of one commit give the same bytes from any folder at any time.
if(MINGW)
    # For paths inside both folders (a build folder in the checkout), the map given last wins.
    add_compile_options("$<${RAVENTO_COMPILED_LANGUAGES}:-fstack-protector-strong>"
        "$<${RAVENTO_COMPILED_LANGUAGES}:-fmacro-prefix-map=${CMAKE_BINARY_DIR}/=build/>"
        "$<${RAVENTO_COMPILED_LANGUAGES}:-fdebug-prefix-map=${CMAKE_SOURCE_DIR}=/ravento>"
        "$<${RAVENTO_COMPILED_LANGUAGES}:-fdebug-prefix-map=${CMAKE_BINARY_DIR}=/ravento/build>")
    add_link_options(-fstack-protector-strong "LINKER:--no-insert-timestamp" "LINKER:--build-id")
endif()
