# Third-party libraries, all from Debian. The Windows build brings its own copies in
# cmake/WindowsDependencies.cmake; this file is the native one.
if(WIN32)
    include(cmake/WindowsDependencies.cmake)
    return()
endif()

# Each part's libraries are looked for only when that part is built (see the build switches in
# the top-level CMakeLists.txt).
find_package(fmt REQUIRED)
find_package(CLI11 REQUIRED)
find_package(Threads REQUIRED)
if(BUILD_TESTING)
    find_package(GTest REQUIRED)
    if(NOT RAVENTO_TSAN)
        find_package(benchmark REQUIRED)
    endif()
endif()
if(RAVENTO_DEVHOST_GUI)
    find_package(glfw3 REQUIRED)
    find_package(OpenGL REQUIRED)
endif()
if(RAVENTO_FAULT_POINTS)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(LIBFIU REQUIRED IMPORTED_TARGET libfiu)
endif()

# Dear ImGui 1.86 as Debian builds it: a static, position-independent archive. Each module
# that links it carries its own copy.
find_library(IMGUI_ARCHIVE NAMES libimgui.a REQUIRED)
find_library(STB_LIBRARY NAMES libstb.a REQUIRED)
add_library(imgui STATIC IMPORTED GLOBAL)
set_target_properties(imgui PROPERTIES
    IMPORTED_LOCATION ${IMGUI_ARCHIVE}
    INTERFACE_INCLUDE_DIRECTORIES /usr/include/imgui
    INTERFACE_LINK_LIBRARIES ${STB_LIBRARY})

if(NOT RAVENTO_NETWORK)
    return()
endif()
find_package(CURL REQUIRED)
find_package(OpenSSL REQUIRED)

# cpp-httplib needs OpenSSL for HTTPS. Debian ships its implementation as a shared library
# (libcpp-httplib.so); the header holds only declarations.
find_path(HTTPLIB_INCLUDE_DIR httplib.h REQUIRED)
find_library(HTTPLIB_LIBRARY NAMES cpp-httplib REQUIRED)
add_library(httplib INTERFACE)
target_include_directories(httplib INTERFACE ${HTTPLIB_INCLUDE_DIR})
target_compile_definitions(httplib INTERFACE CPPHTTPLIB_OPENSSL_SUPPORT)
target_link_libraries(httplib INTERFACE ${HTTPLIB_LIBRARY} OpenSSL::SSL OpenSSL::Crypto Threads::Threads)
