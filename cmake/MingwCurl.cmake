# libcurl for the Windows build: Debian ships no mingw-w64 libcurl, so Debian's curl source
# package (the version of the native libcurl4-openssl-dev, so both halves run the same curl) is
# built for mingw-w64 with the Schannel backend, HTTP only, static. It is built once per
# checkout into RAVENTO_SHARED_DEPS_DIR and shared by every Windows build folder; a lock keeps
# two build folders configuring at once from building it twice. Defines CURL::libcurl.
include(${CMAKE_CURRENT_LIST_DIR}/FetchDebianSource.cmake)

# A copy of the checkout made for a test (the release test's clone) names the original's folder in
# the environment, so the copy does not build curl again.
if(DEFINED ENV{RAVENTO_SHARED_DEPS_DIR})
    set(shared_deps_default $ENV{RAVENTO_SHARED_DEPS_DIR})
else()
    set(shared_deps_default ${PROJECT_SOURCE_DIR}/build/_shared)
endif()
set(RAVENTO_SHARED_DEPS_DIR ${shared_deps_default} CACHE PATH
    "Where third-party builds shared by every Windows build folder of the checkout live")

execute_process(COMMAND dpkg-query -W -f=\${source:Version} libcurl4-openssl-dev
                OUTPUT_VARIABLE RAVENTO_CURL_DEBIAN_VERSION RESULT_VARIABLE curl_query_failed)
if(curl_query_failed OR RAVENTO_CURL_DEBIAN_VERSION STREQUAL "")
    message(FATAL_ERROR "libcurl4-openssl-dev is not installed: run scripts/install-deps.sh")
endif()
set(RAVENTO_MINGW_ZLIB /usr/x86_64-w64-mingw32/lib/libz.a)
if(NOT EXISTS ${RAVENTO_MINGW_ZLIB})
    message(FATAL_ERROR "${RAVENTO_MINGW_ZLIB} is missing (libz-mingw-w64-dev): run scripts/install-deps.sh")
endif()

# Lean: libcurl alone (no curl program, tests or manual), HTTP(S) only, no libraries beyond the
# system's and zlib (which decodes gzip transfer codings as the native libcurl does).
# The file prefix map keeps the shared folder's path out of the archive.
set(curl_shared_dir ${RAVENTO_SHARED_DEPS_DIR}/curl-mingw-${RAVENTO_CURL_DEBIAN_VERSION})
set(curl_prefix ${curl_shared_dir}/install)
set(curl_toolchain ${CMAKE_CURRENT_LIST_DIR}/toolchains/mingw-w64-x86_64.cmake)
set(curl_options
    -G Ninja
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=${curl_prefix}
    "-DCMAKE_C_FLAGS=-ffile-prefix-map=${curl_shared_dir}=curl"
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DHTTP_ONLY=ON -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none
    -DCURL_USE_LIBPSL=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DENABLE_UNIX_SOCKETS=OFF
    -DCURL_ZLIB=ON -DZLIB_LIBRARY=${RAVENTO_MINGW_ZLIB} -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include)
# What the build is made of, not where the checkout lies: a copy of the checkout that shares
# this folder (scripts/windows-checks.sh) takes the same build.
file(SHA256 ${curl_toolchain} curl_toolchain_hash)
string(SHA256 curl_options_hash "${curl_options};${curl_toolchain_hash}")

function(_ravento_build_mingw_curl)
    file(MAKE_DIRECTORY ${curl_shared_dir})
    file(LOCK ${curl_shared_dir}.lock GUARD FUNCTION TIMEOUT 1800)
    set(stamp ${curl_prefix}/built-with.txt)
    if(EXISTS ${stamp})
        file(READ ${stamp} built_with)
        if(built_with STREQUAL curl_options_hash)
            return()
        endif()
    endif()
    ravento_fetch_debian_source(curl ${RAVENTO_CURL_DEBIAN_VERSION} ${curl_shared_dir}/source curl_source_dir)
    set(curl_build_dir ${curl_shared_dir}/build)
    file(REMOVE_RECURSE ${curl_build_dir} ${curl_prefix})
    string(TIMESTAMP started "%s")
    message(STATUS "Building libcurl ${RAVENTO_CURL_DEBIAN_VERSION} for mingw-w64 in ${curl_shared_dir}")
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${curl_source_dir} -B ${curl_build_dir}
                            -DCMAKE_TOOLCHAIN_FILE=${curl_toolchain} ${curl_options}
                    RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
    string(TIMESTAMP configured "%s")
    if(NOT failed)
        execute_process(COMMAND ${CMAKE_COMMAND} --build ${curl_build_dir} --target install
                        RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
    endif()
    if(failed)
        message(FATAL_ERROR "Building libcurl for mingw-w64 failed:\n${log}")
    endif()
    string(TIMESTAMP built "%s")
    math(EXPR configure_seconds "${configured} - ${started}")
    math(EXPR build_seconds "${built} - ${configured}")
    message(STATUS "libcurl for mingw-w64: configured in ${configure_seconds} s, built in ${build_seconds} s")
    file(WRITE ${stamp} ${curl_options_hash})
endfunction()
_ravento_build_mingw_curl()

add_library(CURL::libcurl STATIC IMPORTED GLOBAL)
set_target_properties(CURL::libcurl PROPERTIES
    IMPORTED_LOCATION ${curl_prefix}/lib/libcurl.a
    INTERFACE_INCLUDE_DIRECTORIES ${curl_prefix}/include
    INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
    INTERFACE_LINK_LIBRARIES "${RAVENTO_MINGW_ZLIB};ws2_32;crypt32;secur32;bcrypt;advapi32")
