#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and runs
# every fuzz target for a bounded time, starting from a scratch copy of its seed corpus in
# fuzz/corpus/<target>/ so the tree is never changed. Each target fuzzes on one core, so as many
# run at once as the machine has cores.
#
#   bash scripts/fuzz.sh            20 seconds per target (what the test command runs)
#   bash scripts/fuzz.sh SECONDS    that many seconds per target
#   bash scripts/fuzz.sh --long     10 minutes per target
#
# Logs go to build/fuzz/logs/<target>.log (scripts/reliability-report.py reads them), an input
# that broke a target to build/fuzz/artifacts/. The exit status is non-zero when a target found
# a crash, a broken property, a hang or a leak, or when the build failed.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=20
case "${1:-}" in
    "") ;;
    --long) seconds=600 ;;
    *[!0-9]* ) echo "usage: $0 [SECONDS | --long]" >&2; exit 2 ;;
    *) seconds=$1 ;;
esac

targets=(repair_reply play_replay code_page config_file script_parser repair_service)
# The plugin targets keep one host for the whole run, and the host keeps every log line; the
# per-input leak check would take that for a leak and scan the heap after every input.
declare -A target_options=([repair_reply]="-detect_leaks=0" [play_replay]="-detect_leaks=0")

echo "=== fuzz: configure and build"
cmake --preset fuzz -DRAVENTO_WARNINGS_AS_ERRORS=ON || exit 1
cmake --build --preset fuzz -j "$(nproc)" || exit 1

run_dir=build/fuzz/run
rm -rf "$run_dir" build/fuzz/logs build/fuzz/artifacts
mkdir -p "$run_dir" build/fuzz/logs build/fuzz/artifacts
# The plugin targets lay out a replays folder per input; in memory that costs no disk writes.
scratch=$(mktemp -d "$([[ -w /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/ravento-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# fuzz_target TARGET: fuzzes one target for $seconds s in a scratch folder of its own; its log
# goes to build/fuzz/logs and its exit status to $run_dir/TARGET.status.
fuzz_target() {
    local target=$1 corpus="$run_dir/$1" status=0
    cp -r "fuzz/corpus/$target" "$corpus"
    mkdir -p "$scratch/$target"
    # shellcheck disable=SC2086  # the options are separate words
    TMPDIR="$scratch/$target" "build/fuzz/bin/fuzz_$target" -max_total_time="$seconds" -timeout=30 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target-" \
        ${target_options[$target]:-} "$corpus" >"build/fuzz/logs/$target.log" 2>&1 || status=$?
    echo "$status" >"$run_dir/$target.status"
}

running=0
for target in "${targets[@]}"; do
    if [[ $running -eq $(nproc) ]]; then
        wait -n
        running=$((running - 1))
    fi
    echo "=== fuzz: $target for $seconds s"
    fuzz_target "$target" &
    running=$((running + 1))
done
wait

failed=()
for target in "${targets[@]}"; do
    log="build/fuzz/logs/$target.log"
    summary=$(grep -E '^Done [0-9]+ runs' "$log" | tail -n 1)
    status=$(cat "$run_dir/$target.status" 2>/dev/null || echo "unknown")
    if [[ $status != 0 ]]; then
        failed+=("$target")
        echo "FAILED: fuzz_$target (exit $status); the end of $log:"
        grep -E 'property broken|ERROR: |SUMMARY' "$log" | head -n 5
    else
        echo "fuzz_$target: ${summary:-no summary}"
    fi
done

if [[ ${#failed[@]} -ne 0 ]]; then
    echo "fuzz: ${#failed[@]} of ${#targets[@]} targets failed: ${failed[*]}"
    exit 1
fi
echo "fuzz: all ${#targets[@]} targets passed, $seconds s each"
