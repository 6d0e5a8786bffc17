#!/usr/bin/env bash
# The project's test command: installs the Debian packages that are missing, then builds and
# tests three configurations in turn: the native build, the native build under AddressSanitizer
# and UndefinedBehaviorSanitizer, and the Windows x64 build with its tests run under Wine.
# Every configuration runs even when an earlier one fails; the exit status is non-zero if any
# step failed. The last line sums up the tests of all three.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh || { echo "test.sh: installing the dependencies failed" >&2; exit 1; }

jobs=2   # the machine's two cores, shared with the test runs
failed_steps=()
summaries=()
total_passed=0
total_failed=0

# Adds the counts of one ctest summary ("97% tests passed, 1 tests failed out of 40").
count_summary() {
    local line=$1
    if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
        total_failed=$((total_failed + BASH_REMATCH[1]))
        total_passed=$((total_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    fi
}

# run_preset PRESET: configure, build and test one preset.
run_preset() {
    local preset=$1
    local log="build/ctest-$preset.log"
    echo "=== $preset: configure and build"
    # The presets turn warnings into errors themselves.
    if ! cmake --preset "$preset"; then
        failed_steps+=("$preset: configure")
        return
    fi
    if ! cmake --build --preset "$preset" -j "$jobs"; then
        failed_steps+=("$preset: build")
        return
    fi
    echo "=== $preset: test"
    # The test presets run two tests at a time and stop any test that hangs.
    ctest --preset "$preset" 2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    local summary
    summary=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" | tail -n 1)
    if [[ -z $summary ]]; then
        summary="no test summary (ctest exited with $status)"
        status=1
    fi
    summaries+=("$preset: $summary")
    count_summary "$summary"
    [[ $status -eq 0 ]] || failed_steps+=("$preset: tests")
}

mkdir -p build
run_preset dev
run_preset dev-asan
run_preset windows
# Wine's server and services of the throwaway prefix are not left running.
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true

echo
echo "=== summary"
for summary in "${summaries[@]}"; do
    echo "$summary"
done
for step in "${failed_steps[@]}"; do
    echo "FAILED: $step"
done
echo "tests: $total_passed passed, $total_failed failed"
[[ ${#failed_steps[@]} -eq 0 ]]
