# Checks that the release module carries no debug sections and no symbol table, and that its
# debug link names the file beside it that keeps them.
#   cmake -DOBJDUMP=... -DMODULE=.../Ravento.dll -P CheckStripped.cmake
cmake_policy(VERSION 3.25)

function(section_headers file result)
    execute_process(COMMAND ${OBJDUMP} -h -t ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE failed ERROR_QUIET)
    if(failed)
        message(FATAL_ERROR "${OBJDUMP} -h -t ${file} failed")
    endif()
    set(${result} "${dump}" PARENT_SCOPE)
endfunction()

section_headers(${MODULE} module)
if(module MATCHES "\\.debug_")
    message(FATAL_ERROR "${MODULE} still carries debug sections")
endif()
if(module MATCHES "\\[ *[0-9]+\\]\\(sec")
    message(FATAL_ERROR "${MODULE} still carries a symbol table")
endif()
if(NOT module MATCHES "\\.gnu_debuglink")
    message(FATAL_ERROR "${MODULE} has no debug link")
endif()

section_headers(${MODULE}.debug kept)
if(NOT kept MATCHES "\\.debug_info" OR NOT kept MATCHES "\\[ *[0-9]+\\]\\(sec")
    message(FATAL_ERROR "${MODULE}.debug does not hold the debug sections and symbols")
endif()
file(SIZE ${MODULE} module_size)
file(SIZE ${MODULE}.debug kept_size)
message(STATUS "${MODULE}: ${module_size} bytes, its debug information ${kept_size} bytes beside it")
