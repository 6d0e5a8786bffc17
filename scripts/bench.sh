#!/usr/bin/env bash
# The performance run in one command: builds the bench preset (Release, no sanitizers), runs the
# benchmarks, writes docs/performance.md from that one run and checks it against the targets.
# Exit status 0 when every target holds. The JSON results stay in build/bench/results.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh
cmake --preset bench
cmake --build --preset bench --parallel "${RAVENTO_BUILD_JOBS:-2}"

bin=build/bench/bin
results=build/bench/results
rm -rf "$results"
mkdir -p "$results"
# The benchmarks' temporary folders go on the build tree's disk: flushing to a memory file
# system would make the write floor meaningless.
export TMPDIR="$PWD/build/bench/tmp"
mkdir -p "$TMPDIR"

# run NAME [options]: one benchmark program, its results as JSON.
run() {
  local name=$1
  shift
  echo "=== $name"
  "$bin/$name" --benchmark_out="$results/$name.json" --benchmark_out_format=json "$@"
}

run plugin_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_min_time=0.2
run devhost_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
run service_bench

echo "=== targets"
python3 bench/check_targets.py --markdown docs/performance.md "$results"/*.json
