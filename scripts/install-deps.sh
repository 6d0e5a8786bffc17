#!/usr/bin/env bash
# Installs the Debian packages the project needs, and nothing that is already there.
#   install-deps.sh            every group: what the build and all the tests need
#   install-deps.sh GROUP...   only those groups, e.g. "install-deps.sh demo" for scripts/demo.sh
# Groups: demo (the native plugin, devhost and the stand-in service), tests, proof, gui, windows,
# fuzz, bench.
set -euo pipefail

declare -A groups=(
  # the native build of the three programs the demo runs
  [demo]="cmake ninja-build g++ pkg-config libfmt-dev libcli11-dev libimgui-dev libstb-dev
          libcurl4-openssl-dev libcpp-httplib-dev libssl-dev openssl ca-certificates"
  # the native test suite; git, python3 and unzip for the release archives and their test
  [tests]="git googletest libgtest-dev libgmock-dev libbenchmark-dev python3 unzip"
  # coverage of the plugin's code (gcovr reads gcc's counters; mingw-w64's gcov comes with its
  # gcc) and the fault-injection run (libfiu)
  [proof]="gcovr libfiu-dev"
  # the GUI development host, its screenshots and the GUI test (real input through xdotool)
  [gui]="libglfw3-dev libgl-dev libgl1-mesa-dri xvfb xauth xdotool"
  # the Windows target: cross compiler, Wine, apt-get source for Dear ImGui and curl, zlib for
  # that curl, and the Japanese locale source for the run under code page 932
  [windows]="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 dpkg-dev
             locales libgnutls30"
  # the fuzz targets (clang's libFuzzer and sanitizer runtimes) and the reliability report
  [fuzz]="clang libclang-rt-14-dev python3"
  # the benchmarks: curl's command line is the upload floor; python3 runs the target checker
  [bench]="curl python3"
)

requested=("$@")
[ ${#requested[@]} -gt 0 ] || requested=(demo tests proof gui windows fuzz bench)
packages=()
for group in "${requested[@]}"; do
  [ -n "${groups[$group]:-}" ] || { echo "install-deps: no group '$group' (groups: ${!groups[*]})" >&2; exit 2; }
  read -r -a listed <<< "$(echo ${groups[$group]})"
  packages+=("${listed[@]}")
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present (${requested[*]})"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
