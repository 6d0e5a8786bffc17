# The platform seam: one set of headers in this folder, one implementation per platform, in the
# folder the top-level CMakeLists.txt picks.
if(WIN32)
    set(RAVENTO_PLATFORM_LIBS shell32 ole32 ntdll)
else()
    set(RAVENTO_PLATFORM_LIBS)
endif()
target_sources(ravento_objects PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/${RAVENTO_PLATFORM_DIR}/SystemError.cpp
    ${CMAKE_CURRENT_LIST_DIR}/${RAVENTO_PLATFORM_DIR}/CodePage.cpp
    ${CMAKE_CURRENT_LIST_DIR}/${RAVENTO_PLATFORM_DIR}/DocumentsFolder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReplayFilesInUse.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReplayFileErrors.cpp
    ${CMAKE_CURRENT_LIST_DIR}/${RAVENTO_PLATFORM_DIR}/Processes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/${RAVENTO_PLATFORM_DIR}/ReplayFiles.cpp
)
# A fault-injection build: the POSIX seam's system calls can be made to fail
# (posix/FaultPoint.h).
if(RAVENTO_FAULT_POINTS)
    target_compile_definitions(ravento_objects PRIVATE RAVENTO_FAULT_POINTS FIU_ENABLE)
    list(APPEND RAVENTO_PLATFORM_LIBS PkgConfig::LIBFIU)
endif()
