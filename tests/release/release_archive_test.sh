#!/usr/bin/env bash
# The release script as the README gives it, "bash scripts/release.sh --test-release" (with
# --no-suite: the Windows suite has a run of its own), in a clone that holds the sources as they
# are now, committed, since the script packages only a commit. The clone stays in CLONE_DIR so its
# release build, and the module built there, serve the next run. The archive must hold exactly
# the files a player needs with correct SHA256SUMS, say first that it is a test build that sends
# nothing, come out byte-identical from a second run after the texts' file times changed, and the
# symbols archive hold only the debug file. And release.sh must refuse the default .test host and
# anything but a host name.
#   release_archive_test.sh SOURCE_DIR CLONE_DIR
set -euo pipefail
source_dir="$1"
clone="$2"
work="$(mktemp -d "${TMPDIR:-/tmp}/ravento-release-test-XXXXXX")"
trap 'rm -rf "$work"' EXIT
failures=0
check() { if eval "$2"; then echo "ok:     $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }

if ! command -v x86_64-w64-mingw32-g++-posix > /dev/null; then
  echo "skipped: the release build needs mingw-w64 (bash scripts/install-deps.sh windows)"
  exit 77
fi

# --- The clone: every file git would commit in SOURCE_DIR, committed; its build folder kept ------
mkdir -p "$clone"
find "$clone" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
(cd "$source_dir" && git ls-files -z --cached --others --exclude-standard \
  | tar --null --files-from=- --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$clone"
git -C "$clone" init -q
git -C "$clone" add -A
git -C "$clone" -c user.name="Release test" -c user.email=release-test@ravento.invalid commit -q -m "Sources under test"

# The clone takes the checkout's mingw-w64 libcurl build instead of building its own.
export RAVENTO_SHARED_DEPS_DIR="$source_dir/build/_shared"

# release COPY: runs the README's command in the clone and keeps the archives in $work/COPY.
release() {
  local log="$work/$1.log" status=0
  (cd "$clone" && rm -rf dist && bash scripts/release.sh --test-release --no-suite) > "$log" 2>&1 || status=$?
  check "release.sh --test-release --no-suite packages ($1 run, status $status, $(tail -n 1 "$log"))" \
    "[ $status -eq 0 ] && grep -q '^release: done in [0-9]* s$' '$log'"
  [ "$status" -eq 0 ] || sed 's/^/    /' "$log" | tail -n 30
  mkdir -p "$work/$1" && cp -r "$clone/dist/." "$work/$1/" 2>/dev/null || true
}
release first
(cd "$clone" && touch -d "2001-01-01 10:00" CHANGELOG.md LICENSE THIRD-PARTY-NOTICES docs/player/README.txt)
release second

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$clone/build/release/CMakeCache.txt" 2>/dev/null || true)"
archive="Ravento-$version-win64-test-build-no-service.zip"
symbols="Ravento-$version-win64-test-build-no-service-symbols.zip"
check "dist holds the archive and the symbols archive alone ($(ls "$work/first" | tr '\n' ' '))" \
  "[ \"\$(ls '$work/first' | sort)\" = \"\$(printf '%s\n' '$archive' '$symbols' | sort)\" ]"
check "the archive is byte-identical from a second run" "cmp -s '$work/first/$archive' '$work/second/$archive'"
check "the symbols archive is byte-identical from a second run" "cmp -s '$work/first/$symbols' '$work/second/$symbols'"

listing="$(cd "$work/first" && unzip -Z1 "$archive" 2>/dev/null | tr '\n' ' ')"
check "the archive holds the DLL, the player's texts and SHA256SUMS, sorted ($listing)" \
  "[ '$listing' = 'CHANGELOG.md LICENSE.txt README.txt Ravento.dll SHA256SUMS THIRD-PARTY-NOTICES.txt ' ]"
check "the symbols archive holds Ravento.dll.debug alone" \
  "[ \"\$(unzip -Z1 '$work/first/$symbols' 2>/dev/null)\" = Ravento.dll.debug ]"
mkdir "$work/unpacked" && (cd "$work/unpacked" && unzip -q "$work/first/$archive" 2>/dev/null || true)
check "SHA256SUMS checks every other file of the archive" \
  "(cd '$work/unpacked' && sha256sum --quiet -c SHA256SUMS) && [ \"\$(wc -l < '$work/unpacked/SHA256SUMS')\" -eq 5 ]"
check "the DLL is the module the release build made" "cmp -s '$work/unpacked/Ravento.dll' '$clone/build/release/bin/Ravento.dll'"
check "the texts are the project's own" "cmp -s '$work/unpacked/LICENSE.txt' '$source_dir/LICENSE' \
  && cmp -s '$work/unpacked/THIRD-PARTY-NOTICES.txt' '$source_dir/THIRD-PARTY-NOTICES'"
check "the README and the CHANGELOG say first that this is a test build" \
  "head -n 1 '$work/unpacked/README.txt' | grep -q '^TEST BUILD of Ravento $version ' \
   && head -n 1 '$work/unpacked/CHANGELOG.md' | grep -q 'TEST BUILD'"
check "the README says this build sends nothing, and names no placeholder" \
  "grep -q '^THIS BUILD SENDS NOTHING' '$work/unpacked/README.txt' && ! grep -q '@' '$work/unpacked/README.txt'"
check "the CHANGELOG names the version and the commit's date in place of [Unreleased]" \
  "grep -q \"^## \\[$version\\] - \$(TZ=UTC git -C '$clone' log -1 --date=format-local:%F --format=%cd)\" '$work/unpacked/CHANGELOG.md' \
   && ! grep -q 'Unreleased' '$work/unpacked/CHANGELOG.md'"

# A release for players with the default host, or any .test host, is refused before anything
# is configured or built.
for options in "" "--service-host staging.ravento.test"; do
  refusal="$(cd "$source_dir" && bash scripts/release.sh $options 2>&1)" && status=0 || status=$?
  check "release.sh ${options:-without options} is refused (status $status)" "[ $status -ne 0 ]"
  check "the refusal names the .test host and the way out" \
    "grep -q '.test, which never resolves' <<< \"\$refusal\" && grep -q -- '--test-release' <<< \"\$refusal\""
  check "nothing was configured" "! grep -q 'release: Ravento' <<< \"\$refusal\""
done
# A service host is a host name alone, for players never a reserved one.
for host in https://repair.example.org repair.example.org/api localhost repair.ravento.test. -bad.example.org; do
  refusal="$(cd "$source_dir" && bash scripts/release.sh --test-release --service-host "$host" 2>&1)" && status=0 || status=$?
  check "--service-host $host is refused with the right form (status $status)" \
    "[ $status -ne 0 ] && grep -q 'such as repair.example.org' <<< \"\$refusal\""
done
[ "$failures" -eq 0 ]
