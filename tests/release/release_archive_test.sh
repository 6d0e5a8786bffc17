#!/usr/bin/env bash
# The release archives as scripts/release.sh writes them, from a stand-in DLL (the real one needs
# the Windows build): packaged twice from two copies of the texts with different file times,
# they must be byte-identical, hold exactly the files a player needs with correct SHA256SUMS, say
# first that they are a test build, and the symbols archive only the debug file. And release.sh
# must refuse the default .test host and anything but a host name.
#   release_archive_test.sh SOURCE_DIR
set -euo pipefail
source_dir="$1"
work="$(mktemp -d "${TMPDIR:-/tmp}/ravento-release-test-XXXXXX")"
trap 'rm -rf "$work"' EXIT
failures=0
check() { if eval "$2"; then echo "ok:     $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }

# package COPY TOUCH_TIME: the texts and a stand-in DLL in a folder of their own, then the archives.
package() {
  local copy="$work/$1" docs="$work/$1/docs"
  mkdir -p "$docs"
  cp "$source_dir/docs/player/README.txt" "$docs/README.txt"
  cp "$source_dir/LICENSE" "$docs/LICENSE.txt"
  cp "$source_dir/THIRD-PARTY-NOTICES" "$docs/THIRD-PARTY-NOTICES.txt"
  cp "$source_dir/CHANGELOG.md" "$docs/CHANGELOG.md"
  printf 'MZ stand-in module\0\1\2' > "$copy/Ravento.dll"
  printf 'stand-in debug information' > "$copy/Ravento.dll.debug"
  touch -d "$2" "$copy"/* "$docs"/*
  SOURCE_DATE_EPOCH=1765100000 python3 "$source_dir/scripts/lib/package_release.py" --version 9.8.7.6 --kind test-build \
    --dll "$copy/Ravento.dll" --debug "$copy/Ravento.dll.debug" --docs "$docs" --out "$copy/dist" > /dev/null
}
package first "2001-01-01 10:00"
package second "2024-06-30 23:59:58"

archive=Ravento-9.8.7.6-win64-test-build.zip
symbols=Ravento-9.8.7.6-win64-test-build-symbols.zip
check "the archive is byte-identical from two copies" "cmp -s '$work/first/dist/$archive' '$work/second/dist/$archive'"
check "the symbols archive is byte-identical from two copies" \
  "cmp -s '$work/first/dist/$symbols' '$work/second/dist/$symbols'"

listing="$(cd "$work/first/dist" && unzip -Z1 "$archive" | tr '\n' ' ')"
check "the archive holds the DLL, the player's texts and SHA256SUMS, sorted ($listing)" \
  "[ '$listing' = 'CHANGELOG.md LICENSE.txt README.txt Ravento.dll SHA256SUMS THIRD-PARTY-NOTICES.txt ' ]"
check "the symbols archive holds Ravento.dll.debug alone" \
  "[ \"\$(unzip -Z1 '$work/first/dist/$symbols')\" = Ravento.dll.debug ]"
mkdir "$work/unpacked" && (cd "$work/unpacked" && unzip -q "$work/first/dist/$archive")
check "SHA256SUMS matches every other file of the archive" \
  "(cd '$work/unpacked' && sha256sum --quiet -c SHA256SUMS) && [ \"\$(wc -l < '$work/unpacked/SHA256SUMS')\" -eq 5 ]"
check "the DLL comes out as it went in" "cmp -s '$work/unpacked/Ravento.dll' '$work/first/Ravento.dll'"
check "the README and the CHANGELOG say first that this is a test build" \
  "head -n 1 '$work/unpacked/README.txt' | grep -q '^TEST BUILD' && head -n 1 '$work/unpacked/CHANGELOG.md' | grep -q 'TEST BUILD'"
check "the CHANGELOG names the version and the date in place of [Unreleased]" \
  "grep -q '^## \[9.8.7.6\] - 2025-12-07' '$work/unpacked/CHANGELOG.md' && ! grep -q 'Unreleased' '$work/unpacked/CHANGELOG.md'"
check "every entry carries the given time, not the files' own" \
  "unzip -Z -T '$work/first/dist/$archive' | grep -c ' 20251207\.' | grep -qx 6"

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
