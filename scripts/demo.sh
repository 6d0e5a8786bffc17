#!/usr/bin/env bash
# The main job in one command: build what is needed, start the stand-in repair service on a free
# loopback port, give the development host a sandbox home whose Documents holds the game's
# replays folder, play three replays (one qualifies, one is outside the date window, one is
# already a repaired file) and check that exactly the qualifying one was repaired and backed up.
#
# The stand-in service does not really repair anything: it returns each upload unchanged, so the
# repaired file has the old file's bytes. Exit status 0 when the files are as expected. The demo
# ends by naming the repaired replay and the backup copy.
#   bash scripts/demo.sh          the sandbox (replays, backups, logs) goes when the demo ends
#   bash scripts/demo.sh --keep   the sandbox stays, to look at the files; the demo says where
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep_sandbox=true; shift ;;
    -h|--help) awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"; exit 0 ;;
    *) echo "demo: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
time_this_script
# RAVENTO_DEMO_BUILD names a tree that is already built (the test suite runs the demo so);
# without it the demo installs what it needs (the "demo" group) and builds the demo preset.
build_programs RAVENTO_DEMO_BUILD demo demo
make_sandbox demo

# RAVENTO_DEMO_WINDOWS names a built Windows tree (build/windows): devhost.exe and Ravento.dll
# then play the replays under Wine, through Schannel, against the same native service. Wine's
# Documents folder is the prefix's home (cmake/toolchains/wine-run.sh); the demo's game folder
# there goes with the sandbox.
if [ -n "${RAVENTO_DEMO_WINDOWS:-}" ]; then
  documents="$RAVENTO_DEMO_WINDOWS/wineprefix.home"
  rm -rf "$documents/My Games"
  trap 'finish_script; $keep_sandbox || rm -rf "$documents/My Games"' EXIT
  run_devhost() {
    "$root/cmake/toolchains/wine-run.sh" "$RAVENTO_DEMO_WINDOWS/wineprefix" "$RAVENTO_DEMO_WINDOWS/bin/devhost.exe" "$@"
  }
else
  documents="$sandbox/home/Documents"
  run_devhost() { HOME="$sandbox/home" XDG_CONFIG_HOME="" "$bin/devhost" "$@"; }
fi
game="$documents/My Games/Pellacor/TAGame"
demos="$game/Demos"
backups="$game/OV_Ravento_BackupReplays"
mkdir -p "$demos"

qualifying=7C1F0E4A9B2D4E6F   # played as of 2025-06-14: sent and repaired
too_early=3A5B7C9D1E2F4A6B    # played as of 2025-03-10: outside the date window
already_fixed=5D6E7F8A9B0C1D2E_fixed   # carries "_fixed": never sent
for id in "$qualifying" "$too_early" "$already_fixed"; do
  # Replays are binary: CR, LF and NUL bytes must come back unchanged.
  printf 'PELLACOR-REPLAY %s\r\n\0\1\2 body\n' "$id" > "$demos/$id.replay"
done
cp "$demos/$qualifying.replay" "$sandbox/original.replay"

list_folders() {
  echo "--- $1"
  (cd "$game" && find . -mindepth 1 | sort | while read -r entry; do
    if [ -f "$entry" ]; then printf '  %s  (%s bytes)\n' "$entry" "$(stat -c %s "$entry")"; else printf '  %s/\n' "$entry"; fi
  done)
}

# --- Service -----------------------------------------------------------------------------------
start_service

# --- Host --------------------------------------------------------------------------------------
cat > "$sandbox/script.txt" <<EOF
# The plugin looks for the replays folder one second after it loads.
wait 1.5
cvar Ravento_DemosFolder
play $qualifying 2025-06-14
play $too_early 2025-03-10
play $already_fixed 2025-06-14
settle
quit
EOF

list_folders "before"
echo "--- devhost (plugin log on stdout, host lines on stderr)"
run_devhost --config "$sandbox/devhost.cfg" --script "$sandbox/script.txt" "${service_options[@]}" 2>&1 |
  sed 's/^/  /'
list_folders "after"
echo "--- repair service log"
sed 's/^/  /' "$sandbox/service.log"

# --- Check -------------------------------------------------------------------------------------
expect "repaired file $qualifying""_fixed.replay holds the service's bytes" \
  'cmp -s "$demos/${qualifying}_fixed.replay" "$sandbox/original.replay"'
expect "backup copy $qualifying""_copy.replay holds the old bytes" \
  'cmp -s "$backups/${qualifying}_copy.replay" "$sandbox/original.replay"'
expect "the old file $qualifying.replay left the replays folder" '[ ! -e "$demos/$qualifying.replay" ]'
expect "the replay outside the date window is untouched" \
  '[ -f "$demos/$too_early.replay" ] && [ ! -e "$demos/${too_early}_fixed.replay" ]'
expect "the already repaired replay is untouched" \
  '[ -f "$demos/$already_fixed.replay" ] && [ ! -e "$backups/${already_fixed}_copy.replay" ]'
expect "exactly one backup copy" '[ "$(ls "$backups" | wc -l)" -eq 1 ]'
echo "demo: the repaired replay: $demos/${qualifying}_fixed.replay"
echo "demo: the old file's backup: $backups/${qualifying}_copy.replay"
$keep_sandbox || echo "demo: both go with the sandbox now; bash scripts/demo.sh --keep keeps them"
[ "$failures" -eq 0 ] || { echo "demo: $failures check(s) failed" >&2; exit 1; }
echo "demo: the qualifying replay was repaired and its backup kept"
