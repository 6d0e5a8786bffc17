#!/usr/bin/env bash
# The checks of the Windows module as it ships, beyond its test suite (scripts/test.sh runs this
# after the Windows suite, once the native suite with its release test has run and the windows
# preset is built):
#   1. reproducible: Ravento.dll and Ravento.dll.debug that the release test built in a clone in
#      another folder are byte-identical to build/windows's;
#   2. the demo (scripts/demo.sh) under Wine: devhost.exe and Ravento.dll against the native
#      stand-in service through libcurl and Schannel, --connect-to and --cacert;
#   3. devhost.exe refuses a service whose certificate it does not trust or that names another host.
# Every check runs even when an earlier one fails; exit status 1 if any failed.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/lib/common.sh

windows=$root/build/windows
# The native build whose repair service and devhost the checks use (the test command passes the
# coverage build, its only native build).
dev=${RAVENTO_NATIVE_BUILD:-$root/build/dev}
failed=()

# --- 1. Reproducible ------------------------------------------------------------------------------
# The release test (tests/release) builds the module with release.sh in a clone of these sources:
# another checkout folder and another build folder, built at another time, as a second machine
# would. Its module must be these bytes. A clone of other sources (the tree changed since) proves
# nothing, so its tree must be this working tree's, file for file.
check_reproducible() {
  local clone=$root/build/release-test
  local ours theirs
  ours=$(working_tree_hash) || return 1
  theirs=$(git -C "$clone" rev-parse -q --verify 'HEAD^{tree}' 2>/dev/null)
  if [ "$ours" != "$theirs" ]; then
    echo "windows-checks: $clone holds no build of these sources: run the release test first" \
      "(ctest --preset coverage -R release_archive_test)"
    return 1
  fi
  local same=0
  for file in Ravento.dll Ravento.dll.debug; do
    if cmp "$windows/bin/$file" "$clone/build/release/bin/$file"; then
      echo "windows-checks: $file is byte-identical from a second folder ($(stat -c %s "$windows/bin/$file") bytes)"
    else
      same=1
    fi
  done
  return $same
}

# working_tree_hash: the git tree of every file git would commit here, as the release test's clone
# commits them, without touching this checkout's index.
working_tree_hash() {
  local index
  index=$(mktemp) && cp "$(git rev-parse --git-path index)" "$index" &&
    GIT_INDEX_FILE=$index git add -A && GIT_INDEX_FILE=$index git write-tree
  local status=$?
  rm -f "$index"
  return $status
}
echo "=== windows checks: the module the release test built in another folder"
check_reproducible || failed+=("Ravento.dll is not reproducible")

# --- 2. The demo through devhost.exe --------------------------------------------------------------
echo "=== windows checks: the demo under Wine through devhost.exe (libcurl, Schannel)"
RAVENTO_DEMO_BUILD=$dev RAVENTO_DEMO_WINDOWS=$windows bash scripts/demo.sh || failed+=("the demo under Wine")

# --- 3. A service devhost.exe must not trust is refused ------------------------------------------
# check_refused KIND: plays one replay against a service whose certificate is not trusted
# ("untrusted": self-signed by another key than --cacert's) or names another host ("wrong-name",
# trusted through --cacert all the same). The upload must fail (status 0) and the replay stay.
check_refused() {
  build=$dev bin=$dev/bin
  make_sandbox "windows-tls-$1"
  local name=repair.ravento.test trusted
  [ "$1" = wrong-name ] && name=other.ravento.test
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$name" -addext "subjectAltName=DNS:$name" \
    -keyout "$sandbox/made.key" -out "$sandbox/made.pem" 2>/dev/null || return 1
  if [ "$1" = wrong-name ]; then
    start_service --cert "$sandbox/made.pem" --key "$sandbox/made.key"
  else
    start_service
  fi
  mkdir -p "$sandbox/Demos"
  printf 'replay' >"$sandbox/Demos/7C1F0E4A9B2D4E6F.replay"
  printf 'Ravento_DemosFolder "%s"\n' "$sandbox/Demos" >"$sandbox/devhost.cfg"
  printf 'wait 1.5\nplay 7C1F0E4A9B2D4E6F 2025-06-14\nsettle\nquit\n' >"$sandbox/script.txt"
  local output
  output=$(cmake/toolchains/wine-run.sh "$windows/wineprefix" "$windows/bin/devhost.exe" --config "$sandbox/devhost.cfg" \
    --script "$sandbox/script.txt" "${service_options[@]:0:2}" --cacert "$sandbox/made.pem" 2>&1)
  echo "$output" | grep -E "failed|Post result" | sed 's/^/  /'
  # The request line and headers reach the service before the check; the replay never does.
  echo "$output" | grep -q "Post result(0)" && [ -f "$sandbox/Demos/7C1F0E4A9B2D4E6F.replay" ] &&
    [ ! -e "$sandbox/Demos/7C1F0E4A9B2D4E6F_fixed.replay" ]
}
for kind in untrusted wrong-name; do
  echo "=== windows checks: devhost.exe refuses a service with a certificate that is $kind"
  # A subshell of its own, for its own sandbox and service; traps are not inherited, so it
  # sets the clean-up that stops them again.
  (trap finish_script EXIT && check_refused "$kind") || failed+=("devhost.exe did not refuse a $kind certificate")
done

# The code page 65001 run's Wine prefix is not left running.
WINEPREFIX="$windows/wineprefix-cp65001" wineserver -k 2>/dev/null || true
for failure in "${failed[@]}"; do
  echo "windows-checks: FAILED: $failure"
done
[ ${#failed[@]} -eq 0 ]
