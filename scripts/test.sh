#!/usr/bin/env bash
# The project's test command. It installs the Debian packages that are missing, then runs its
# steps in turn: the native suite measuring coverage under AddressSanitizer and
# UndefinedBehaviorSanitizer, the thread tests under ThreadSanitizer, the Windows x64 build of the
# binaries as they ship with the host's tests and its shipping checks, the Windows build measuring
# the plugin's tests' coverage (both under Wine, with the code pages 1252, 932 and 65001), every
# fuzz target briefly, real system-call faults (libfiu),
# the mutants the suite must kill, and the coverage report with its bar. Last, it checks that
# nothing the run started outlived it: no process, nothing in its temporary folder. The report of
# the run goes to build/reports/reliability.md.
#
#   bash scripts/test.sh                  every step
#   bash scripts/test.sh --quick          the native suite only (dev preset: build and test)
#   bash scripts/test.sh --update-docs    every step, then the run's report becomes docs/reliability.md
#
# Every step runs even when an earlier one fails (a configuration stops at its first failed
# step); the exit status is non-zero if any step failed. The summary gives each step's time and
# outcome, each configuration's passed, failed and skipped tests, and a last line summing them.
# Adding a step is one line: run_step NAME COMMAND [ARGS...].
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
started=$SECONDS

usage() { echo "usage: $0 [--quick | --update-docs]" >&2; exit 2; }
quick=false
update_docs=false
for option in "$@"; do
    case $option in
        --quick) quick=true ;;
        --update-docs) update_docs=true ;;
        *) usage ;;
    esac
done
# A quick run's report lacks most of what docs/reliability.md promises.
$quick && $update_docs && usage

# A quick run needs the native build and its tests only: no Wine, no cross compiler, no clang.
dependency_groups=()
$quick && dependency_groups=(demo tests gui)
bash scripts/install-deps.sh "${dependency_groups[@]}" || { echo "test.sh: installing the dependencies failed" >&2; exit 1; }

# Everything the run starts inherits this mark, and its temporary files go to a folder of the
# run's own: what is still marked, or still in the folder, at the end was left behind
# (scripts/lib/leftovers.sh). Other users' and other runs' processes carry no such mark.
export RAVENTO_TEST_RUN="$$-$(date +%s%N)"
TMPDIR=$(mktemp -d "${TMPDIR:-/tmp}/ravento-test-run-XXXXXX") || exit 1
export TMPDIR

jobs=$(nproc)
reports=build/reports
failed_steps=()
step_lines=()

# Everything the report reads is made by this run: nothing an earlier run left may be mistaken
# for this run's outcome. Coverage counters add up across runs, so they go too.
rm -rf "$reports" build/fuzz/logs
mkdir -p "$reports/ctest" "$reports/gtest" "$reports/counts"
for folder in build/coverage build/windows-coverage; do
    [[ -d $folder ]] && find "$folder" -name '*.gcda' -delete
done

# The machine's busy processor time so far, every core and every process, in clock ticks: what a
# step adds to it is the work the step made the machine do, Wine's server and the programs it
# starts included (two cores give up to twice the step's seconds). The run counts on having the
# machine to itself, as CI gives it.
machine_busy_ticks() {
    local cpu user nice system idle iowait irq softirq steal rest
    read -r cpu user nice system idle iowait irq softirq steal rest < /proc/stat
    echo $((user + nice + system + irq + softirq + steal))
}
ticks_per_second=$(getconf CLK_TCK)

# run_step NAME COMMAND [ARGS...]: runs one step, times it and records its outcome for the
# summary and the report (build/reports/steps.tsv). Returns the command's exit status.
run_step() {
    local name=$1
    shift
    local step_started=$SECONDS step_ticks status=0
    step_ticks=$(machine_busy_ticks)
    echo "=== $name"
    "$@" || status=$?
    local seconds=$((SECONDS - step_started))
    local cpu_seconds=$((($(machine_busy_ticks) - step_ticks) / ticks_per_second))
    local outcome=passed
    if [[ $status -ne 0 ]]; then
        outcome="FAILED (exit status $status)"
        failed_steps+=("$name")
    fi
    printf '%s\t%s\t%s\t%s\n' "$name" "$outcome" "$seconds" "$cpu_seconds" >> "$reports/steps.tsv"
    step_lines+=("$(printf '%-32s %6s s %6s s of processor  %s' "$name" "$seconds" "$cpu_seconds" "$outcome")")
    return "$status"
}

# A path the test programs of CONFIGURATION can write to: Wine sees the Linux root as Z:.
program_path() {
    local configuration=$1 path=$2
    [[ $configuration == windows* ]] && path="Z:$path"
    echo "$path"
}

# ctest_run NAME PRESET [CTEST OPTION...]: runs the tests of PRESET's build, reported under NAME. The tests append
# their "[reliability] ..." counts to counts/NAME.txt and GoogleTest writes one XML file a
# program to gtest/NAME/, from which the report counts the skipped tests. A suite that finds no
# test fails.
ctest_run() {
    local name=$1 preset=$2
    shift 2
    mkdir -p "$reports/gtest/$name"
    RAVENTO_RELIABILITY_LOG=$(program_path "$name" "$PWD/$reports/counts/$name.txt") \
        GTEST_OUTPUT="xml:$(program_path "$name" "$PWD/$reports/gtest/$name/")" \
        ctest --preset "$preset" -j "$jobs" --no-tests=error "$@" 2>&1 | tee "$reports/ctest/$name.log"
}

# build_preset PRESET: configures and builds one preset, each a step of its own.
build_preset() {
    local preset=$1
    # The presets turn warnings into errors themselves.
    run_step "$preset: configure" cmake --preset "$preset" &&
        run_step "$preset: build" cmake --build --preset "$preset" -j "$jobs"
}

# run_preset PRESET: builds one preset and runs its tests.
run_preset() {
    build_preset "$1" && run_step "$1: test" ctest_run "$1" "$1"
}

# windows_suite PRESET: the preset's Windows tests under code page 1252, then those labelled
# "codepage" under 932 and 65001.
windows_suite() {
    local preset=$1
    run_step "$preset: test" ctest_run "$preset" "$preset"
    RAVENTO_WINE_CODEPAGE=932 run_step "$preset-cp932: test" ctest_run "$preset-cp932" "$preset" --label-regex '^codepage$'
    RAVENTO_WINE_CODEPAGE=65001 run_step "$preset-cp65001: test" ctest_run "$preset-cp65001" "$preset" --label-regex '^codepage$'
}

# Wine's servers of the throwaway prefixes are not left running.
stop_wine() {
    local prefix
    for prefix in "$@"; do
        WINEPREFIX="$PWD/$prefix" wineserver -k 2>/dev/null || true
    done
    return 0
}

if $quick; then
    # The release test builds the Windows module, which needs the cross compiler a quick run
    # leaves out.
    build_preset dev && run_step "dev: test" ctest_run dev dev --exclude-regex '^release_archive_test$'
else
    # The native suite runs once, in the build that measures coverage under AddressSanitizer and
    # UndefinedBehaviorSanitizer; the threaded tests again under ThreadSanitizer.
    run_preset coverage
    run_preset dev-tsan
    # The one test that measures resident memory, which the sanitizers' allocators blur, runs in
    # the plain Release build of the benchmarks.
    run_step "memory: configure" cmake --preset bench &&
        run_step "memory: build" cmake --build --preset memory -j "$jobs" &&
        run_step "memory: test" ctest_run memory memory
    # The Windows suite in two builds: the plain release build of the binaries as they ship, with
    # the host's tests and the checks of those binaries, and the build measuring coverage, with the
    # tests of the plugin's own code. Each runs its tests under code page 1252, and those that read
    # names, paths or text beyond ASCII in the ANSI code page (label "codepage") again under 932
    # (Japanese, double-byte) and 65001 (UTF-8 as the ANSI and OEM code page), each in a Wine
    # prefix of its own (cmake/toolchains/wine-run.sh). After the plain build's suite: the module's
    # reproducibility, the demo through devhost.exe and its TLS refusals (scripts/windows-checks.sh).
    if build_preset windows; then
        windows_suite windows
        RAVENTO_NATIVE_BUILD="$PWD/build/coverage" run_step "windows checks" bash scripts/windows-checks.sh
    fi
    stop_wine build/windows/wineprefix build/windows/wineprefix-cp932 build/windows/wineprefix-cp65001
    build_preset windows-coverage && windows_suite windows-coverage
    stop_wine build/windows-coverage/wineprefix build/windows-coverage/wineprefix-cp932 \
        build/windows-coverage/wineprefix-cp65001
    run_step "fuzz" bash scripts/fuzz.sh
    run_step "fault injection" bash scripts/fault-injection.sh
    run_step "mutants" python3 scripts/mutants.py
    # Every line and 95% of the branches, judged (scripts/coverage.sh).
    run_step "coverage report" bash scripts/coverage.sh --report
fi

run_step "nothing left behind" env -u RAVENTO_TEST_RUN bash scripts/lib/leftovers.sh "$RAVENTO_TEST_RUN" "$TMPDIR" $$

# The report's own time is not in it; every step before it is.
echo "=== report"
python3 scripts/reliability-report.py "$reports/reliability.md" || failed_steps+=("report")
if $update_docs; then
    if [[ ${#failed_steps[@]} -eq 0 ]]; then
        cp "$reports/reliability.md" docs/reliability.md && echo "docs/reliability.md updated"
    else
        echo "docs/reliability.md left as it was: a step failed"
    fi
fi

echo
echo "=== summary"
for line in "${step_lines[@]}"; do
    echo "$line"
done
echo "all steps: $((SECONDS - started)) s"
for step in "${failed_steps[@]}"; do
    echo "FAILED: $step"
done
# Last: one line a configuration, then the line that sums up the tests of all of them.
python3 scripts/reliability-report.py --summary || failed_steps+=("summary")
[[ ${#failed_steps[@]} -eq 0 ]]
