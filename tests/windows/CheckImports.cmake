# Checks that every Windows binary of the build imports only system DLLs (and pluginsdk.dll):
# the compiler's runtime (libgcc, libstdc++, winpthread) must be linked in, since nothing
# ships beside Ravento.dll but the DLL itself.
#   cmake -DOBJDUMP=... -DBIN_DIR=... -DREQUIRED=a.dll,b.exe -P CheckImports.cmake
cmake_policy(VERSION 3.25)

set(system_dlls
    kernel32.dll msvcrt.dll user32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll
    version.dll gdi32.dll imm32.dll ws2_32.dll shlwapi.dll bcrypt.dll ntdll.dll secur32.dll crypt32.dll
    imagehlp.dll)
set(allowed_dlls ${system_dlls} pluginsdk.dll)

string(REPLACE "," ";" required "${REQUIRED}")
foreach(name ${required})
    if(NOT EXISTS ${BIN_DIR}/${name})
        message(FATAL_ERROR "${name} was not built in ${BIN_DIR}")
    endif()
endforeach()

file(GLOB binaries ${BIN_DIR}/*.dll ${BIN_DIR}/*.exe)
set(offenders "")
foreach(binary ${binaries})
    execute_process(COMMAND ${OBJDUMP} -p ${binary} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "${OBJDUMP} -p ${binary} failed")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
    get_filename_component(binary_name ${binary} NAME)
    foreach(import ${imports})
        string(REPLACE "DLL Name: " "" dll "${import}")
        string(TOLOWER "${dll}" dll_lower)
        message(STATUS "${binary_name} imports ${dll}")
        if(NOT dll_lower IN_LIST allowed_dlls)
            list(APPEND offenders "${binary_name} imports ${dll}")
        endif()
    endforeach()
endforeach()

list(LENGTH binaries checked)
if(offenders)
    list(JOIN offenders "\n  " report)
    message(FATAL_ERROR "Binaries need non-system DLLs:\n  ${report}")
endif()
message(STATUS "${checked} binaries import system DLLs only")
