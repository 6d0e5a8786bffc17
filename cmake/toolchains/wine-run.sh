#!/bin/sh
# Runs one Windows program under Wine: wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is created on first use (under a lock, so parallel tests don't race on it), Wine
# stays silent (WINEDEBUG=-all) and headless: console programs need no X server.
set -eu
prefix=$1
shift

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko installer on prefix creation: nothing here uses them, and there is no network.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# Wine links the prefix's Documents, Desktop, ... to $HOME: a home of its own keeps the tests
# away from the user's files.
export HOME="$prefix.home"
mkdir -p "$HOME"

flock "$prefix.lock" sh -c '
    [ -f "$WINEPREFIX.ready" ] && exit 0
    wineboot --init >"$WINEPREFIX.log" 2>&1
    # A crashing program must fail at once: with winedbg attached it would exit with status 0.
    wine reg add "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug" /v Debugger /t REG_SZ /d "" /f >/dev/null
    touch "$WINEPREFIX.ready"
'
exec wine "$@"
