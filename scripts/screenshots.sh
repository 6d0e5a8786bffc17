#!/usr/bin/env bash
# Makes the README's pictures of the plugin's settings window in docs/images/:
#   settings-panel.png    the panel with a folder typed into its entry
#   settings-warning.png  the warning after "Check" on a folder that does not exist
#   rate-limit.png        the notice after the repair service refused an upload (429)
#   devhost-gui.png       the whole devhost --gui window: console, replays and requests panes
#   repairs-list.png      the window after a repair and a refusal, with "Repairs this session"
# devhost --gui draws them in a virtual X display (Xvfb) with Mesa's software renderer and saves
# only the plugin's window. For the notice, the stand-in repair service runs with an upload
# limit of 0, so it refuses every upload with 429.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
images="$root/docs/images"
# RAVENTO_SCREENSHOTS_BUILD names a tree that is already built; without it the script builds the
# dev preset itself.
build_programs RAVENTO_SCREENSHOTS_BUILD dev demo tests gui
make_sandbox screenshots
# The pictures show the replays folder's path: a neutral home, never this machine's folders.
home=/tmp/Player
mkdir "$home" || { echo "screenshots: $home is in use; remove it or wait for the other run" >&2; exit 1; }
trap 'finish_script; rm -rf "$home"' EXIT

# devhost and the plugin run from a copy there too: the console names the module's path.
host="$home/Orvane"
mkdir -p "$host"
cp "$bin/devhost" "$bin/Ravento.so" "$host/"

demos="$home/Documents/My Games/Pellacor/TAGame/Demos"
mkdir -p "$demos" "$images"
replay=7C1F0E4A9B2D4E6F
printf 'PELLACOR-REPLAY %s\n' "$replay" > "$demos/$replay.replay"
printf 'PELLACOR-REPLAY %s\n' 3A5B7C9D1E2F4A6B > "$demos/3A5B7C9D1E2F4A6B.replay"

# shoot NAME SCRIPT [devhost options...]: runs devhost --gui on the script in a fresh display.
shoot() {
  local name="$1" script="$2"
  shift 2
  printf '%s\n' "$script" > "$sandbox/$name.txt"
  echo "screenshots: $name.png"
  HOME="$home" XDG_CONFIG_HOME="" LIBGL_ALWAYS_SOFTWARE=1 \
    xvfb-run -a -s "-screen 0 1280x720x24" "$host/devhost" --gui --script "$sandbox/$name.txt" "$@" \
    > "$sandbox/$name.log" 2>&1 || { cat "$sandbox/$name.log"; echo "screenshots: devhost failed for $name" >&2; exit 1; }
}

# The plugin finds the replays folder one second after it loads; the window is then opened by
# hand. A new window fits the contents it first shows, and the warning comes later: both panel
# pictures start the window at a size that fits it, as the host's remembered settings would.
cat > "$sandbox/window.ini" <<'INI'
[Window][Ravento]
Pos=60,60
Size=380,118
Collapsed=0
INI

shoot settings-panel "wait 1.2
console togglemenu Ravento
frame 3
type D:\\Games\\Pellacor\\Demos
screenshot \"$images/settings-panel.png\" window
quit" --ui-settings "$sandbox/window.ini"

shoot settings-warning "wait 1.2
console togglemenu Ravento
frame 3
type C:\\Users\\Player\\Replays
click Check
frame 3
screenshot \"$images/settings-warning.png\" window
quit" --ui-settings "$sandbox/window.ini"

# --- devhost --gui at work: a repaired replay, a turned-down one, and the settings window ------
# The window is open before the plays: its list grows with the row that arrives.
start_service
shoot devhost-gui "wait 1.2
console togglemenu Ravento
frame 3
play $replay 2025-06-14
play 3A5B7C9D1E2F4A6B 2025-03-10
settle
frame 30
screenshot \"$images/devhost-gui.png\"
quit" --ui-settings "$sandbox/window.ini" "${service_options[@]}"
kill "$service_pid" && wait "$service_pid" || true
rm -rf "$sandbox/port" "$sandbox/tls"
# That repair moved the replay to the backup folder: put a fresh one back for the refusal.
rm -f "$demos/${replay}_fixed.replay"
printf 'PELLACOR-REPLAY %s\n' "$replay" > "$demos/$replay.replay"

# --- The rate-limit notice: a service that refuses every upload ---------------------------------
start_service --upload-limit 0

# The refusal opens the window by itself.
shoot rate-limit "wait 1.2
play $replay 2025-06-14
settle
wait 0.3
frame 3
screenshot \"$images/rate-limit.png\" window
quit" "${service_options[@]}"
grep -q "togglemenu: Ravento opened" "$sandbox/rate-limit.log" \
  || { cat "$sandbox/rate-limit.log"; echo "screenshots: the refusal did not open the window" >&2; exit 1; }
kill "$service_pid" && wait "$service_pid" || true
rm -rf "$sandbox/port" "$sandbox/tls"

# --- The repairs of the session: one upload repaired, the next refused --------------------------
# A replay of its own: the first one's backup copy is already taken.
listed=5E8A2C4B6D0F1A3C
printf 'PELLACOR-REPLAY %s\n' "$listed" > "$demos/$listed.replay"
start_service --upload-limit 1

shoot repairs-list "wait 1.2
play $listed 2025-06-14
settle
play 3A5B7C9D1E2F4A6B 2025-06-14
settle
wait 0.3
frame 3
screenshot \"$images/repairs-list.png\" window
quit" "${service_options[@]}"

ls -l "$images"
