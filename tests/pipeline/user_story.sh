#!/usr/bin/env bash
# The player's whole story in one devhost script: the plugin finds no replays folder and opens
# its window, the player types a folder and clicks "Check", the window closes, the configuration
# is saved, and the next replay played is repaired by the stand-in service.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/common.sh"
build_programs RAVENTO_DEMO_BUILD
make_sandbox user-story

# Documents exists but holds no game folder: discovery finds nothing.
mkdir -p "$sandbox/home/Documents"
demos="$sandbox/Replays/Demos"
backups="$sandbox/Replays/OV_Ravento_BackupReplays"
mkdir -p "$demos"
printf 'PELLACOR-REPLAY\r\n\0 body\n' > "$demos/R1.replay"
cp "$demos/R1.replay" "$sandbox/original.replay"
start_service

cat > "$sandbox/script.txt" <<SCRIPT
wait 1.5
show
type $demos
click Check
frame 2
wait 0.5
show
cvar Ravento_DemosFolder
play R1 2025-06-14
settle
quit
SCRIPT

# A crash or a sanitizer report, even at unload after the story went well, makes devhost's exit
# status non-zero and fails the story.
devhost_status=0
HOME="$sandbox/home" XDG_CONFIG_HOME="" "$bin/devhost" --config "$sandbox/devhost.cfg" \
  --script "$sandbox/script.txt" "${service_options[@]}" > "$sandbox/out.txt" 2> "$sandbox/err.txt" ||
  devhost_status=$?
sed 's/^/  out: /' "$sandbox/out.txt"
sed 's/^/  err: /' "$sandbox/err.txt"

expect "devhost ran the script to its end (exit status $devhost_status)" '[ "$devhost_status" -eq 0 ]'

expect "the window opened by itself and showed the folder entry" \
  'grep -q "Enter the path to your demos folder..." "$sandbox/out.txt"'
expect "the check closed the window" 'grep -q "(no window is open)" "$sandbox/out.txt"'
expect "the variable holds the typed folder" 'grep -qxF "= Ravento_DemosFolder = $demos" "$sandbox/out.txt"'
expect "the configuration file was saved with the folder" 'grep -qF "$demos" "$sandbox/devhost.cfg"'
expect "the replay was repaired" 'cmp -s "$demos/R1_fixed.replay" "$sandbox/original.replay"'
expect "the plugin made the backup folder beside the typed one" 'grep -qx "Created Backup Directory" "$sandbox/out.txt"'
expect "the old file was backed up" 'cmp -s "$backups/R1_copy.replay" "$sandbox/original.replay"'
expect "the old file left the replays folder" '[ ! -e "$demos/R1.replay" ]'
[ "$failures" -eq 0 ]
