#!/usr/bin/env bash
# Measures how much of the plugin's own code (Ravento/) the test suites run, and fails when it
# falls under the bar: every line, and at least 95% of the branches. The POSIX half comes from
# the native suite (preset coverage), the Windows half (Ravento/platform/windows/) from the
# Windows suite under Wine (preset windows-coverage, read with mingw-w64's gcov); one report
# holds both. Branches that only throw are left out: a thrown error's way out of a call is the
# compiler's, not a decision of the code.
#
#   bash scripts/coverage.sh            builds both presets, runs their suites, then reports
#   bash scripts/coverage.sh --report   reports from the counters the last runs left
#                                       (scripts/test.sh runs the suites itself)
#
# Writes build/reports/coverage/: coverage.txt (per file), summary.json and judged.json (read by
# the test command's report), html/index.html (every line, annotated), and prints every line and
# branch no test runs, by file and line, with the reason listed in
# tests/coverage/untaken-branches.txt, and each file under the bar. The bar judges what a test
# can reach where it is measured: lines and branches with a reason are left out of the judged
# figures (both figures are printed); anything without a reason counts against it.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1

# The bar the plugin's code is held to, judged.
line_bar=100
branch_bar=95
out=build/reports/coverage

# measure_suites: builds each coverage preset and runs its suite on counters set to zero.
measure_suites() {
    local preset
    for preset in coverage windows-coverage; do
        cmake --preset "$preset" && cmake --build --preset "$preset" -j "$(nproc)" || return 1
        find "build/$preset" -name '*.gcda' -delete
        # A failing test still leaves its counters; the suite's outcome is the test command's.
        ctest --preset "$preset" -j "$(nproc)" --output-on-failure ||
            echo "coverage: some tests of $preset failed; measuring what ran"
    done
    WINEPREFIX="$PWD/build/windows-coverage/wineprefix" wineserver -k 2>/dev/null || true
}

# half NAME BUILD GCOV FILTER [gcovr options...]: the counters of one build as gcovr's JSON. The
# stand-in host and service never include the plugin's sources, so their counters (half of all)
# are not read.
half() {
    local name=$1 build=$2 gcov=$3 filter=$4
    shift 4
    if [[ -z $(find "$build" -name '*.gcda' -print -quit 2>/dev/null) ]]; then
        echo "coverage: no counters in $build: its suite did not run" >&2
        return 1
    fi
    gcovr --root . -j "$(nproc)" --gcov-executable "$gcov" --filter "$filter" "$@" \
        --exclude-throw-branches --exclude-unreachable-branches \
        --exclude-directories "$build/(devhost|repairservice)/" --json "$out/$name.json" "$build"
}

case "${1:-}" in
    "") measure_suites || { echo "coverage: a preset could not be built" >&2; exit 1; } ;;
    --report) ;;
    *) echo "usage: $0 [--report]" >&2; exit 2 ;;
esac

rm -rf "$out" && mkdir -p "$out/html"
half posix build/coverage gcov 'Ravento/' --exclude 'Ravento/platform/windows/' || exit 1
half windows build/windows-coverage x86_64-w64-mingw32-gcov-posix 'Ravento/platform/windows/' || exit 1
gcovr --root . --add-tracefile "$out/posix.json" --add-tracefile "$out/windows.json" \
    --txt "$out/coverage.txt" --json-summary-pretty --json-summary "$out/summary.json" \
    --html-details "$out/html/index.html" || exit 1
cat "$out/coverage.txt"
python3 scripts/coverage-check.py "$out" "$line_bar" "$branch_bar"
