cmake_minimum_required(VERSION 3.25)
# Fails unless the module's dynamic symbol table exports exactly the registration record, its
# two entry points and the plugin base's members: nothing of Dear ImGui, fmt or the plugin's
# own code may leak out. Run with -DMODULE=<path of Ravento.so> -DNM=<nm>.
execute_process(COMMAND ${NM} -D --defined-only --demangle ${MODULE}
                OUTPUT_VARIABLE table RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${MODULE}")
endif()

string(REPLACE "\n" ";" lines "${table}")
set(found "")
foreach(line IN LISTS lines)
    # "<address> <type> <name>"
    if(NOT line MATCHES "^[0-9a-f]+ [A-Za-z] (.+)$")
        continue()
    endif()
    set(name "${CMAKE_MATCH_1}")
    if(name MATCHES "^(exports|getPlugin|deleteMe)$")
        list(APPEND found "${name}")
    elseif(NOT name MATCHES "Orvane::Plugin::OrvanePlugin")
        message(SEND_ERROR "unexpected export: ${name}")
    endif()
endforeach()

foreach(required exports getPlugin deleteMe)
    if(NOT required IN_LIST found)
        message(SEND_ERROR "missing unmangled export: ${required}")
    endif()
endforeach()
