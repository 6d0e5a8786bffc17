#!/usr/bin/env bash
# Installs every Debian package the build and the tests need, and nothing that is already there.
set -euo pipefail

packages=(
  # native build
  cmake ninja-build g++ pkg-config git
  libfmt-dev libcli11-dev libimgui-dev libstb-dev
  libcurl4-openssl-dev libcpp-httplib-dev libssl-dev openssl ca-certificates
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # the benchmarks: curl's command line is the upload floor (python3, below, runs the target checker)
  curl
  # the GUI development host and its screenshots
  libglfw3-dev libgl-dev libgl1-mesa-dri xvfb xauth
  # the Windows target: cross compiler, Wine, and apt-get source for Dear ImGui
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 dpkg-dev
  # Wine's TLS for devhost.exe's WinHTTP (Wine only recommends it)
  libgnutls30
  # the fuzz targets (clang's libFuzzer and sanitizer runtimes) and the reliability report
  clang libclang-rt-14-dev python3
  # coverage of the plugin's code: gcovr reads gcc's counters (mingw-w64's gcov comes with its gcc)
  gcovr
  # the Windows tests under a second ANSI code page (932) need the Japanese locale source
  locales
  # the fault-injection run (scripts/fault-injection.sh): libfiu's preload library and headers
  fiu-utils libfiu-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
