#!/usr/bin/env bash
# Real system-call faults: builds the "faults" preset (the plugin with libfiu fault points, devhost,
# the stand-in service and ravento_fault_scope), starts the service with a repair command that
# repairs some replays and refuses one (400), and runs tests/faults/run_faults.py, which fails the
# plugin's file calls one by one, always and at random with fixed seeds, and kills it at each of
# its calls in turn, checking after every load that no replay was lost and no error escaped.
# Prints a table; exit status 0 when no invariant broke, no error escaped and every planned fault
# struck. Needs libfiu-dev (scripts/install-deps.sh). About three minutes.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
cd "$root"

echo "=== faults: configure and build"
cmake --preset faults > /dev/null
cmake --build --preset faults --parallel "${RAVENTO_BUILD_JOBS:-2}"
build="$root/build/faults"
bin="$build/bin"

make_sandbox faults
start_service --upload-limit 1000000 --repair-command "python3 $(printf %q "$root/tests/faults/repair_replay.py")"
echo "=== faults: runs"
status=0
python3 -B "$root/tests/faults/run_faults.py" --bin "$bin" --work "$sandbox" --jobs "${RAVENTO_FAULT_JOBS:-6}" "$@" \
  -- "${service_options[@]}" || status=$?
if [ "$status" -ne 0 ]; then
  echo "--- the repair service's last lines"
  tail -n 20 "$sandbox/service.log"
fi
exit "$status"
