# Third-party libraries of the Windows build, all from Debian and all kept in the build tree:
# Dear ImGui and libcurl built from Debian's source packages, GoogleTest from Debian's googletest
# sources, fmt and CLI11 header-only. The repair service, cpp-httplib and GLFW are Linux-only.
set(RAVENTO_DEPS_DIR ${CMAKE_BINARY_DIR}/_deps)

find_package(Threads REQUIRED)

# --- Header-only libraries ---------------------------------------------------------------------
# Only their own folders are exposed: /usr/include itself holds Linux headers that must never
# shadow the mingw-w64 ones.
set(RAVENTO_HEADER_ONLY_DIR ${RAVENTO_DEPS_DIR}/include)
file(MAKE_DIRECTORY ${RAVENTO_HEADER_ONLY_DIR})
foreach(header_dir fmt CLI)
    if(NOT EXISTS /usr/include/${header_dir})
        message(FATAL_ERROR "/usr/include/${header_dir} is missing: run scripts/install-deps.sh")
    endif()
    file(CREATE_LINK /usr/include/${header_dir} ${RAVENTO_HEADER_ONLY_DIR}/${header_dir} SYMBOLIC)
endforeach()

add_library(fmt_header_only INTERFACE)
target_include_directories(fmt_header_only SYSTEM INTERFACE ${RAVENTO_HEADER_ONLY_DIR})
target_compile_definitions(fmt_header_only INTERFACE FMT_HEADER_ONLY)
add_library(fmt::fmt ALIAS fmt_header_only)

add_library(cli11_header_only INTERFACE)
target_include_directories(cli11_header_only SYSTEM INTERFACE ${RAVENTO_HEADER_ONLY_DIR})
add_library(CLI11::CLI11 ALIAS cli11_header_only)

# --- Dear ImGui --------------------------------------------------------------------------------
# The same Debian source version as the native libimgui-dev, so host and module agree on the
# release on both platforms.
include(${CMAKE_CURRENT_LIST_DIR}/FetchDebianSource.cmake)
execute_process(COMMAND dpkg-query -W -f=\${source:Version} libimgui-dev
                OUTPUT_VARIABLE RAVENTO_IMGUI_DEBIAN_VERSION RESULT_VARIABLE imgui_query_failed)
if(imgui_query_failed OR RAVENTO_IMGUI_DEBIAN_VERSION STREQUAL "")
    message(FATAL_ERROR "libimgui-dev is not installed: run scripts/install-deps.sh")
endif()
ravento_fetch_debian_source(imgui ${RAVENTO_IMGUI_DEBIAN_VERSION} ${RAVENTO_DEPS_DIR}/imgui IMGUI_SOURCE_DIR)

add_library(imgui STATIC
    ${IMGUI_SOURCE_DIR}/imgui.cpp
    ${IMGUI_SOURCE_DIR}/imgui_demo.cpp
    ${IMGUI_SOURCE_DIR}/imgui_draw.cpp
    ${IMGUI_SOURCE_DIR}/imgui_tables.cpp
    ${IMGUI_SOURCE_DIR}/imgui_widgets.cpp
    ${IMGUI_SOURCE_DIR}/misc/cpp/imgui_stdlib.cpp)
# Laid out as Debian installs it: imgui.h and imgui_stdlib.h side by side on the include path.
target_include_directories(imgui SYSTEM PUBLIC ${IMGUI_SOURCE_DIR} ${IMGUI_SOURCE_DIR}/misc/cpp)
target_compile_options(imgui PRIVATE -w)   # third-party code: its warnings are not ours to fix
# Dear ImGui's default Windows clipboard functions live in user32.
target_link_libraries(imgui PUBLIC user32)

# --- libcurl -----------------------------------------------------------------------------------
# devhost.exe's transport, as the native devhost's: built once per checkout (cmake/MingwCurl.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/MingwCurl.cmake)

# --- GoogleTest --------------------------------------------------------------------------------
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)   # gtest uses Windows threads here
# Its own CMake file names the targets GTest::gtest, GTest::gmock, GTest::gtest_main, ...
add_subdirectory(/usr/src/googletest ${RAVENTO_DEPS_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(gtest_target gtest gtest_main gmock gmock_main)
    target_compile_options(${gtest_target} PRIVATE -w)
endforeach()
