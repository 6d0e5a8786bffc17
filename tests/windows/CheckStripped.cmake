# Checks that the release module carries no debug sections and no symbol table, that its debug
# link names the file beside it that keeps them, and that what it keeps serves a maintainer:
# file and line for the plugin's own code, a build id (CodeView debug directory), and the
# stack protector compiled in, failing through __fastfail (int 0x29) rather than libssp's trap.
#   cmake -DOBJDUMP=... -DNM=... -DADDR2LINE=... -DMODULE=.../Ravento.dll -P CheckStripped.cmake
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
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE headers ERROR_QUIET)
if(NOT headers MATCHES "CodeView")
    message(FATAL_ERROR "${MODULE} has no CodeView debug directory (build id)")
endif()

execute_process(COMMAND ${NM} ${MODULE}.debug OUTPUT_VARIABLE symbols ERROR_QUIET)
if(NOT symbols MATCHES "([0-9a-f]+) T __stack_chk_fail\n")
    message(FATAL_ERROR "${MODULE} was built without the stack protector")
endif()
math(EXPR stop "0x${CMAKE_MATCH_1} + 16" OUTPUT_FORMAT HEXADECIMAL)
execute_process(COMMAND ${OBJDUMP} -d --start-address=0x${CMAKE_MATCH_1} --stop-address=${stop} ${MODULE}
                OUTPUT_VARIABLE failing ERROR_QUIET)
if(NOT failing MATCHES "int +\\$0x29")
    message(FATAL_ERROR "The stack protector of ${MODULE} does not fail fast:\n${failing}")
endif()
# A function of the plugin's own: its address must give back its file and a line.
if(NOT symbols MATCHES "([0-9a-f]+) T _ZN7Ravento13OnRepairReply")
    message(FATAL_ERROR "${MODULE}.debug has no symbol for Ravento::OnRepairReply")
endif()
set(address 0x${CMAKE_MATCH_1})
execute_process(COMMAND ${ADDR2LINE} -e ${MODULE}.debug ${address} OUTPUT_VARIABLE line
                OUTPUT_STRIP_TRAILING_WHITESPACE)
# The sources are named under /ravento, whatever folder the build ran in.
if(NOT line MATCHES "^/ravento/Ravento/RepairReply\\.cpp:[0-9]+$")
    message(FATAL_ERROR "addr2line gives \"${line}\" for Ravento::OnRepairReply, not its file and line")
endif()
message(STATUS "Ravento::OnRepairReply at ${address}: ${line}")

file(SIZE ${MODULE} module_size)
file(SIZE ${MODULE}.debug kept_size)
message(STATUS "${MODULE}: ${module_size} bytes, its debug information ${kept_size} bytes beside it")
