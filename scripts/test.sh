#!/usr/bin/env bash
# The project's test command: installs the Debian packages that are missing, then builds and
# tests four configurations in turn: the native build, the native build under AddressSanitizer
# and UndefinedBehaviorSanitizer, the thread tests under ThreadSanitizer, and the Windows x64
# build with its tests run under Wine (twice: under the ANSI code pages 1252 and 932). After
# them every fuzz target runs briefly (scripts/fuzz.sh), and docs/reliability.md is written
# from the logs of the run.
# Every step runs even when an earlier one fails; the exit status is non-zero if any step
# failed. The last line sums up the tests of every configuration.
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

# The file a test run's "[reliability] NAME: key=value ..." lines go to, which
# scripts/reliability-report.py turns into docs/reliability.md. Wine sees the Linux root as Z:.
reliability_log() {
    local file="$PWD/build/reliability/$1.txt"
    [[ $1 == windows* ]] && file="Z:$file"
    echo "$file"
}

# test_preset NAME PRESET: runs the tests of PRESET's build, reported under NAME.
test_preset() {
    local name=$1 preset=$2
    local log="build/ctest-$name.log"
    echo "=== $name: test"
    # The test presets run two tests at a time and stop any test that hangs.
    RAVENTO_RELIABILITY_LOG=$(reliability_log "$name") ctest --preset "$preset" 2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    local summary
    summary=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" | tail -n 1)
    if [[ -z $summary ]]; then
        summary="no test summary (ctest exited with $status)"
        status=1
    fi
    summaries+=("$name: $summary")
    count_summary "$summary"
    [[ $status -eq 0 ]] || failed_steps+=("$name: tests")
}

# run_preset PRESET: configure, build and test one preset; fails when it could not be built.
run_preset() {
    local preset=$1
    echo "=== $preset: configure and build"
    # The presets turn warnings into errors themselves.
    if ! cmake --preset "$preset"; then
        failed_steps+=("$preset: configure")
        return 1
    fi
    if ! cmake --build --preset "$preset" -j "$jobs"; then
        failed_steps+=("$preset: build")
        return 1
    fi
    test_preset "$preset" "$preset"
}

mkdir -p build
rm -rf build/reliability && mkdir -p build/reliability
run_preset dev
run_preset dev-asan
run_preset dev-tsan
# The Windows suite runs twice: under code page 1252, then under 932 (Japanese, double-byte)
# in a Wine prefix of its own (cmake/toolchains/wine-run.sh).
if run_preset windows; then
    RAVENTO_WINE_CODEPAGE=932 test_preset windows-cp932 windows
    # --- Windows as it ships -------------------------------------------------------------------
    # A third run under code page 65001 (UTF-8 as the ANSI and OEM code page), then the module's
    # reproducibility, the demo through devhost.exe under Wine and the TLS refusal
    # (scripts/windows-checks.sh; it needs the dev build's repair service).
    RAVENTO_WINE_CODEPAGE=65001 test_preset windows-cp65001 windows
    bash scripts/windows-checks.sh || failed_steps+=("windows checks")
    # --- end of Windows as it ships ------------------------------------------------------------
fi
# Wine's servers and services of the throwaway prefixes are not left running.
for prefix in build/windows/wineprefix build/windows/wineprefix-cp932; do
    WINEPREFIX="$PWD/$prefix" wineserver -k 2>/dev/null || true
done
echo "=== fuzz"
bash scripts/fuzz.sh || failed_steps+=("fuzz")
python3 scripts/reliability-report.py || failed_steps+=("reliability report")

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
