# Pieces the project's scripts share: building the programs they run, a throwaway sandbox, and
# the stand-in repair service on a free loopback port. Source it; it defines functions only.

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# build_programs BUILD_DIR_VARIABLE [PRESET [DEPENDENCY_GROUP...]]: without a prebuilt tree named
# in that variable, installs the dependency groups (default: all) and builds PRESET's (default:
# dev) Ravento, devhost and service. Sets $build, $bin.
build_programs() {
  local prebuilt="${!1:-}" preset="${2:-dev}"
  local groups=("${@:3}")
  build="${prebuilt:-$root/build/$preset}"
  bin="$build/bin"
  [ -n "$prebuilt" ] && return
  bash "$root/scripts/install-deps.sh" "${groups[@]}"
  forget_foreign_build "$build"
  (cd "$root" &&
    { [ -f "$build/CMakeCache.txt" ] || cmake --preset "$preset"; } &&
    cmake --build --preset "$preset" --parallel "${RAVENTO_BUILD_JOBS:-$(nproc)}" \
      --target Ravento devhost ravento-repair-service)
}

# forget_foreign_build BUILD: a build folder copied along with a checkout still points at the
# old checkout's sources (CMake refuses it, and its programs are the old ones): start it afresh.
forget_foreign_build() {
  local cache="$1/CMakeCache.txt" configured_for
  [ -f "$cache" ] || return 0
  configured_for="$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$cache")"
  [ "$configured_for" = "$root" ] && return 0
  echo "$(basename "$0"): $1 was configured for $configured_for, not this checkout: building it afresh" >&2
  rm -rf "$1"
}


# Every script that sources this ends through finish_script: the service goes, the sandbox too
# unless the script keeps it (keep_sandbox=true), and a script that asked (time_this_script) says
# how long it took, whether it passed or failed.
sandbox=""
keep_sandbox=false
service_pid=""
timed=false
finish_script() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  if [ -n "$sandbox" ]; then
    if $keep_sandbox; then echo "$(basename "$0"): the sandbox is kept: $sandbox"; else rm -rf "$sandbox"; fi
  fi
  if $timed; then echo "$(basename "$0"): took $((SECONDS / 60)) min $((SECONDS % 60)) s"; fi
  return 0
}
trap finish_script EXIT

time_this_script() {
  timed=true
}

# make_sandbox NAME: a fresh temporary folder in $sandbox, removed (with the service) on exit.
make_sandbox() {
  sandbox="$(mktemp -d "${TMPDIR:-/tmp}/ravento-$1-XXXXXX")"
}

# start_service [service options...]: starts the stand-in repair service in the sandbox and sets
# $service_pid and $service_options, the devhost options that point the plugin's real service
# name at it and trust its certificate (the one it makes, unless the options give --cert).
start_service() {
  local tls=(--tls-dir "$sandbox/tls")
  [[ " $* " == *" --cert "* ]] && tls=()
  "$bin/ravento-repair-service" --port 0 --port-file "$sandbox/port" "${tls[@]}" "$@" \
    > "$sandbox/service.log" 2>&1 &
  service_pid=$!
  for _ in $(seq 100); do [ -f "$sandbox/port" ] && break; sleep 0.1; done
  if [ ! -f "$sandbox/port" ]; then
    cat "$sandbox/service.log"
    echo "$(basename "$0"): the repair service did not start" >&2
    exit 1
  fi
  local port service_host
  port="$(cat "$sandbox/port")"
  service_host="$(sed -n 's/^RAVENTO_SERVICE_HOST:STRING=//p' "$build/CMakeCache.txt")"
  service_options=(--connect-to "$service_host:443:127.0.0.1:$port" --cacert "$sandbox/tls/certificate.pem")
}

# expect DESCRIPTION CONDITION: evaluates the condition, prints the outcome, counts $failures.
failures=0
expect() {
  if eval "$2"; then echo "ok:     $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
