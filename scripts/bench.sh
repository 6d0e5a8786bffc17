#!/usr/bin/env bash
# The performance run in one command: builds the bench preset (Release, no sanitizers), runs the
# benchmarks, writes docs/performance.md from that one run and checks it against the targets.
# Exit status 0 when every target holds. The JSON results stay in build/bench/results.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh
cmake --preset bench
cmake --build --preset bench --parallel "${RAVENTO_BUILD_JOBS:-2}"
# A fresh build leaves hundreds of megabytes for the disk to write back in the first half
# minute, when the reply benchmarks flush: they start from a quiet disk instead.
sync

bin=build/bench/bin
results=build/bench/results
rm -rf "$results"
mkdir -p "$results"
# The benchmarks' temporary folders go on the build tree's disk: flushing to a memory file
# system would make the write floor meaningless.
export TMPDIR="$PWD/build/bench/tmp"
mkdir -p "$TMPDIR"

# run PROGRAM RESULT [options]: one benchmark program, its results as RESULT.json.
run() {
  local program=$1 result=$2
  shift 2
  echo "=== $result"
  "$bin/$program" --benchmark_out="$results/$result.json" --benchmark_out_format=json "$@"
}

plugin_options=(--benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_min_time=0.2)
run plugin_bench plugin_bench "${plugin_options[@]}" --benchmark_filter=-Frame
# The window's panel states need a plugin that has sent nothing yet, and a session's uploads stay
# listed in the window: the frames run in a process of their own.
run plugin_bench plugin_frames "${plugin_options[@]}" --benchmark_filter=Frame
run devhost_bench devhost_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
run service_bench service_bench

echo "=== targets"
python3 bench/check_targets.py --markdown docs/performance.md "$results"/*.json
