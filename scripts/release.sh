#!/usr/bin/env bash
# Builds the Windows DLL of Ravento with mingw-w64 against the stand-in SDK and packages it. Every
# archive this script makes is a TEST BUILD: a release for players needs the host's own compiler
# and SDK (docs/windows.md, "Building for the real host"). The name, the README and the CHANGELOG
# of the archive say so in their first lines.
#   dist/Ravento-<version>-win64-test-build.zip          Ravento.dll, the README, LICENSE,
#                                                        THIRD-PARTY-NOTICES, CHANGELOG, SHA256SUMS
#   dist/Ravento-<version>-win64-test-build-symbols.zip  Ravento.dll.debug
#
#   bash scripts/release.sh --service-host HOST   a test build that sends replays to HOST, a host
#                                                 name alone (repair.example.org)
#   bash scripts/release.sh --test-release        a test build with the default .test host, which
#                                                 never resolves: nothing is ever sent. Its
#                                                 archives are named ...-test-build-no-service
#   --no-suite (only with --test-release)         skip the Windows suite, to check packaging
#
# The version is the project's CMake version; the archive's CHANGELOG names it and the commit's
# date in place of [Unreleased]. The build (preset "release": the windows preset, whose binaries
# are the same bytes from any folder) runs the whole Windows suite under Wine before anything is
# packaged, and any failed test program, or one that skipped all its tests, stops the release
# (skipped cases are named). Only a checkout without uncommitted changes is packaged.
# Archive entries carry the commit's time and sorted names, so two clones of one commit give the
# same bytes. The script ends by saying how long it took, and stops the Wine server it started,
# whether it packaged or failed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
started=$SECONDS

service_host=""
test_release=false
run_suite=true
while [ $# -gt 0 ]; do
  case "$1" in
    --service-host) service_host="${2:?--service-host needs a host name}"; shift 2 ;;
    --test-release) test_release=true; shift ;;
    --no-suite) run_suite=false; shift ;;
    -h|--help) awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"; exit 0 ;;
    *) echo "release: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

fail() { echo "release: $*" >&2; exit 1; }

build=build/release
finish() {
  local status=$?
  # The suite's Wine programs leave a server behind for a few seconds; a release leaves nothing.
  WINEPREFIX="$root/$build/wineprefix" wineserver -k 2>/dev/null || true
  if [ "$status" -eq 0 ]; then
    echo "release: done in $((SECONDS - started)) s"
  else
    echo "release: failed after $((SECONDS - started)) s" >&2
  fi
}
trap finish EXIT

$run_suite || $test_release || fail "--no-suite is only for a --test-release"

# --- The service host: a host name alone, and never a reserved one for players ------------------
# Always given to CMake, so a host left in the build folder's cache by an earlier run never slips in.
default_host="$(sed -n 's/^set(RAVENTO_SERVICE_HOST "\([^"]*\)".*/\1/p' CMakeLists.txt)"
[ -n "$service_host" ] || service_host="$default_host"
label='[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?'
if ! [[ $service_host =~ ^$label(\.$label)+$ ]] || [ ${#service_host} -gt 253 ]; then
  fail "--service-host takes a host name alone, such as repair.example.org: letters, digits and
  hyphens in dot-separated labels, at least one dot, no scheme (https://), no path (/api), no port,
  no trailing dot. Got: $service_host"
fi
reserved_top="$(echo "${service_host##*.}" | tr 'A-Z' 'a-z')"
if [[ $reserved_top =~ ^(test|invalid|localhost|example)$ ]] && ! $test_release; then
  fail "the service host is $service_host, which never resolves (.$reserved_top is reserved): players'
  replays would go nowhere. Give the real one (--service-host HOST), or say that this is a test
  release (--test-release)."
fi
# The archives must be what the commit says they are, a test release too.
if [ -n "$(git status --porcelain 2>/dev/null)" ]; then
  fail "the checkout has changes that are not committed; every archive is made from a commit"
fi
kind=test-build
$test_release && kind=test-build-no-service

bash scripts/install-deps.sh demo tests windows
mkdir -p "$build"
cmake --preset release "-DRAVENTO_SERVICE_HOST=$service_host" > "$build/configure.log" 2>&1 \
  || { cat "$build/configure.log"; fail "configuring the release build failed"; }
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")"
echo "release: Ravento $version for https://$service_host/api/ravento"

# --- Build and test ------------------------------------------------------------------------------
jobs="${RAVENTO_BUILD_JOBS:-$(nproc)}"
if $run_suite; then
  cmake --build --preset release --parallel "$jobs"
  # Counted as the test command counts (scripts/reliability-report.py): a failed program, or one
  # that skipped all its tests, is no pass; every skipped case is named.
  reports=build/reports
  rm -rf "$reports/ctest/release.log" "$reports/gtest/release"
  mkdir -p "$reports/ctest" "$reports/gtest/release"
  GTEST_OUTPUT="xml:Z:$root/$reports/gtest/release/" ctest --preset release 2>&1 | tee "$reports/ctest/release.log" || true
  python3 scripts/reliability-report.py --suite release || fail "the Windows suite did not pass whole"
else
  cmake --build --preset release --parallel "$jobs" --target Ravento
  echo "release: the Windows suite was skipped (--no-suite): a packaging check only"
fi

# --- Package -------------------------------------------------------------------------------------
docs="$build/release-docs"
rm -rf "$docs" && mkdir -p "$docs"
# The README's lines marked @NO-SERVICE@ say that a build without a service sends nothing; only
# such a build keeps them.
if $test_release; then no_service='s/^@NO-SERVICE@//'; else no_service='/^@NO-SERVICE@/d'; fi
sed -e "$no_service" -e "s/@VERSION@/$version/g" -e "s/@SERVICE_HOST@/$service_host/g" \
  docs/player/README.txt > "$docs/README.txt"
cp LICENSE "$docs/LICENSE.txt"
cp THIRD-PARTY-NOTICES "$docs/THIRD-PARTY-NOTICES.txt"
cp CHANGELOG.md "$docs/CHANGELOG.md"
# The commit's time, the same in every clone of it: the entries' time and the changelog's date.
SOURCE_DATE_EPOCH="$(git log -1 --format=%ct 2>/dev/null || echo 315532800)" \
  python3 scripts/lib/package_release.py --version "$version" --kind "$kind" \
    --dll "$build/bin/Ravento.dll" --debug "$build/bin/Ravento.dll.debug" --docs "$docs" --out dist
