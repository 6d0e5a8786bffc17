# Warnings and sanitizers for every target of the project. Only C and C++ sources get them:
# the Windows version resource goes through windres, which knows none of these flags.
set(RAVENTO_COMPILED_LANGUAGES "$<COMPILE_LANGUAGE:C,CXX>")
add_compile_options("$<${RAVENTO_COMPILED_LANGUAGES}:-Wall;-Wextra;-Wpedantic>")
if(RAVENTO_WARNINGS_AS_ERRORS)
    add_compile_options("$<${RAVENTO_COMPILED_LANGUAGES}:-Werror>")
endif()

if(RAVENTO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

# The fuzzing build (clang only): every target gets libFuzzer's coverage instrumentation and the
# sanitizers; the fuzz targets themselves link libFuzzer's main (fuzz/CMakeLists.txt).
option(RAVENTO_FUZZ "Build the libFuzzer targets of fuzz/ (needs clang)" OFF)
if(RAVENTO_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

# Shared libraries carry their own copies of static libraries (Dear ImGui above all) and must
# not export them: each module keeps its own, the way the real host and plugin do.
set(RAVENTO_HIDE_STATIC_LIBS "LINKER:--exclude-libs,ALL")
if(NOT WIN32 AND NOT RAVENTO_FUZZ)
    # A Windows DLL can never have undefined symbols; an ELF module must be told.
    # (clang links its sanitizer runtimes only into programs, so the fuzzing build cannot ask.)
    set(RAVENTO_NO_UNDEFINED "LINKER:--no-undefined")
endif()
