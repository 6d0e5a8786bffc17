#!/usr/bin/env bash
# The checks of the Windows module as it ships, beyond its test suite (scripts/test.sh runs this
# after the Windows suite, once the dev and windows presets are built):
#   1. reproducible: Ravento.dll and Ravento.dll.debug built again from a copy of the sources in
#      another folder are byte-identical to build/windows's;
#   2. the demo (scripts/demo.sh) under Wine: devhost.exe and Ravento.dll against the native
#      stand-in service through WinHTTP, --connect-to and --cacert;
#   3. WinHTTP refuses a service whose certificate is not the one trusted.
# Every check runs even when an earlier one fails; exit status 1 if any failed.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/lib/common.sh

windows=$root/build/windows
dev=$root/build/dev
failed=()

# --- 1. Reproducible ------------------------------------------------------------------------------
# Another checkout folder and another build folder, built later: what a second machine does.
check_reproducible() {
  local copy=$root/build/windows-reproduced
  rm -rf "$copy" && mkdir -p "$copy/source"
  git ls-files -z | xargs -0 cp --parents -t "$copy/source" || return 1
  (cd "$copy/source" && cmake --preset windows -B "$copy/build" -DBUILD_TESTING=OFF >"$copy/configure.log" 2>&1 &&
    cmake --build "$copy/build" --target Ravento -j "${RAVENTO_BUILD_JOBS:-2}" >"$copy/build.log" 2>&1) || {
    tail -n 30 "$copy/configure.log" "$copy/build.log"
    return 1
  }
  local same=0
  for file in Ravento.dll Ravento.dll.debug; do
    if cmp "$windows/bin/$file" "$copy/build/bin/$file"; then
      echo "windows-checks: $file is byte-identical from a second folder ($(stat -c %s "$windows/bin/$file") bytes)"
    else
      same=1
    fi
  done
  [ $same -eq 0 ] && rm -rf "$copy"
  return $same
}
echo "=== windows checks: a second build of the module in another folder"
check_reproducible || failed+=("Ravento.dll is not reproducible")

# --- 2. The demo through devhost.exe --------------------------------------------------------------
echo "=== windows checks: the demo under Wine through devhost.exe and WinHTTP"
RAVENTO_DEMO_BUILD=$dev RAVENTO_DEMO_WINDOWS=$windows bash scripts/demo.sh || failed+=("the demo under Wine")

# --- 3. An untrusted service is refused -----------------------------------------------------------
# The service makes a new self-signed certificate for each --tls-dir; devhost.exe trusts another one.
check_untrusted_service_refused() {
  build=$dev bin=$dev/bin
  make_sandbox windows-tls
  "$bin/ravento-repair-service" --port 0 --port-file "$sandbox/other-port" --tls-dir "$sandbox/other-tls" \
    >"$sandbox/other.log" 2>&1 &
  local other_pid=$!
  for _ in $(seq 100); do [ -f "$sandbox/other-port" ] && break; sleep 0.1; done
  start_service
  mkdir -p "$sandbox/Demos"
  printf 'replay' >"$sandbox/Demos/7C1F0E4A9B2D4E6F.replay"
  printf 'Ravento_DemosFolder "%s"\n' "$sandbox/Demos" >"$sandbox/devhost.cfg"
  printf 'wait 1.5\nplay 7C1F0E4A9B2D4E6F 2025-06-14\nsettle\nquit\n' >"$sandbox/script.txt"
  local output
  output=$(cmake/toolchains/wine-run.sh "$windows/wineprefix" "$windows/bin/devhost.exe" --config "$sandbox/devhost.cfg" \
    --script "$sandbox/script.txt" "${service_options[@]:0:2}" --cacert "$sandbox/other-tls/certificate.pem" 2>&1)
  kill "$other_pid" 2>/dev/null
  echo "$output" | sed 's/^/  /'
  # The request line and headers reach the service before the check; the replay never does.
  echo "$output" | grep -q "Post result(0)" && [ -f "$sandbox/Demos/7C1F0E4A9B2D4E6F.replay" ] &&
    [ ! -e "$sandbox/Demos/7C1F0E4A9B2D4E6F_fixed.replay" ]
}
echo "=== windows checks: a service with an untrusted certificate"
(check_untrusted_service_refused) || failed+=("devhost.exe did not refuse an untrusted certificate")

# The code page 65001 run's Wine prefix is not left running.
WINEPREFIX="$windows/wineprefix-cp65001" wineserver -k 2>/dev/null || true
for failure in "${failed[@]}"; do
  echo "windows-checks: FAILED: $failure"
done
[ ${#failed[@]} -eq 0 ]
