#!/usr/bin/env bash
# What a run left behind: every process that still carries the run's mark in its environment
# (RAVENTO_TEST_RUN=MARK, which everything the run started inherits) and everything left in the
# run's own temporary folder. Lists them, ends the processes and removes the folder; exit status 1
# if there was anything.
#   env -u RAVENTO_TEST_RUN bash scripts/lib/leftovers.sh MARK TEMPORARY_FOLDER [PID_TO_SPARE...]
# Run it without the mark, so that it does not find itself; the run's own shell is spared.
set -uo pipefail
mark="RAVENTO_TEST_RUN=$1"
folder=$2
spared=" ${*:3} "

# marked_processes: "PID COMMAND" of each marked process. Only processes of this user can be
# read, and only this run's carry its mark, so other users' and other runs' are never named.
marked_processes() {
  local environ pid
  for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    [[ $spared == *" $pid "* ]] && continue
    if tr '\0' '\n' 2>/dev/null < "$environ" | grep -qxF "$mark"; then
      echo "$pid $(tr '\0' ' ' 2>/dev/null < "/proc/$pid/cmdline")"
    fi
  done
}

# Servers a step stops on its way out (Wine's) take a moment to go.
left=""
for _ in $(seq 20); do
  left=$(marked_processes)
  [ -z "$left" ] && break
  sleep 0.25
done
# Wine keeps its server's socket folder (wine-XXXXXX) in TMPDIR after the server has ended: that
# is Wine's, not a test's.
files=$(cd "$folder" 2>/dev/null && find . -mindepth 1 -maxdepth 2 -not -path './wine-*' | sort)
rm -rf "$folder"

[ -z "$left" ] && [ -z "$files" ] && { echo "leftovers: no process and no temporary file outlived the run"; exit 0; }
if [ -n "$left" ]; then
  echo "leftovers: processes the run started that are still running (now killed):"
  echo "$left" | sed 's/^/  /'
  echo "$left" | while read -r pid _; do kill -KILL "$pid" 2>/dev/null; done
fi
if [ -n "$files" ]; then
  echo "leftovers: left in the run's temporary folder $folder (removed with it):"
  echo "$files" | sed 's/^/  /'
fi
exit 1
