#!/usr/bin/env bash
# Builds the Windows release of Ravento and packages it for players:
#   dist/Ravento-<version>-win64.zip          Ravento.dll, a player's README, LICENSE,
#                                             THIRD-PARTY-NOTICES, CHANGELOG and SHA256SUMS
#   dist/Ravento-<version>-win64-symbols.zip  Ravento.dll.debug, for debugging a player's crash
#
#   bash scripts/release.sh --service-host HOST   a release that sends replays to HOST
#   bash scripts/release.sh --test-release        a test release with the default .test host
#                                                 (it never resolves: nothing is ever sent)
#   --no-suite (only with --test-release)         skip the Windows suite, to check packaging
#
# The version is the project's CMake version. The build (preset "release": the windows preset,
# reproducible) runs the whole Windows suite under Wine before anything is packaged. Archive
# entries carry the commit's time and sorted names, so two clones of one commit give the same bytes.
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
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "release: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

fail() { echo "release: $*" >&2; exit 1; }

$run_suite || $test_release || fail "--no-suite is only for a --test-release"

# --- The service host: refuse the never-resolving default for a real release -----------------
# Always given to CMake, so a host left in the build folder's cache by an earlier run never slips in.
default_host="$(sed -n 's/^set(RAVENTO_SERVICE_HOST "\([^"]*\)".*/\1/p' CMakeLists.txt)"
[ -n "$service_host" ] || service_host="$default_host"
if [[ $service_host == *.test ]] && ! $test_release; then
  fail "the service host is $service_host, which never resolves: players' replays would go nowhere.
  Give the real one (--service-host HOST), or say that this is a test release (--test-release)."
fi
# The archives must be what the commit says they are.
if ! $test_release && [ -n "$(git status --porcelain 2>/dev/null)" ]; then
  fail "the checkout has changes that are not committed; a release is made from a commit"
fi

bash scripts/install-deps.sh demo tests windows
build=build/release
mkdir -p "$build"
cmake --preset release "-DRAVENTO_SERVICE_HOST=$service_host" > "$build/configure.log" 2>&1 \
  || { cat "$build/configure.log"; fail "configuring the release build failed"; }
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")"
echo "release: Ravento $version for https://$service_host/api/ravento"

# --- Build and test ------------------------------------------------------------------------------
jobs="${RAVENTO_BUILD_JOBS:-$(nproc)}"
if $run_suite; then
  cmake --build --preset release --parallel "$jobs"
  ctest --preset release
else
  cmake --build --preset release --parallel "$jobs" --target Ravento
  echo "release: the Windows suite was skipped (--no-suite): not for players"
fi

# --- Package -------------------------------------------------------------------------------------
docs="$build/release-docs"
rm -rf "$docs" && mkdir -p "$docs"
sed -e "s/@VERSION@/$version/g" -e "s/@SERVICE_HOST@/$service_host/g" docs/player/README.txt > "$docs/README.txt"
cp LICENSE "$docs/LICENSE.txt"
cp THIRD-PARTY-NOTICES "$docs/THIRD-PARTY-NOTICES.txt"
cp CHANGELOG.md "$docs/CHANGELOG.md"
# The commit's time, the same in every clone of it.
SOURCE_DATE_EPOCH="$(git log -1 --format=%ct 2>/dev/null || echo 315532800)" \
  python3 scripts/lib/package_release.py --version "$version" \
    --dll "$build/bin/Ravento.dll" --debug "$build/bin/Ravento.dll.debug" --docs "$docs" --out dist
echo "release: done in $((SECONDS - started)) s"
