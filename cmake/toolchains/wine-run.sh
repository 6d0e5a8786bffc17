#!/bin/sh
# Runs one Windows program under Wine: wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is created on first use (under a lock, so parallel tests don't race on it), Wine
# stays silent (WINEDEBUG=-all) and headless: console programs need no X server.
#
# RAVENTO_WINE_CODEPAGE picks the ANSI code page the programs see: 1252 (the default, Western),
# 932 (Japanese) or 65001 (UTF-8, Windows' "UTF-8 for worldwide language support"). Wine takes
# it from the Unix locale, not from the prefix's registry, so the locale is set here; each code
# page gets a prefix of its own. The locale's character set stays UTF-8, which keeps non-ASCII
# file names intact on the Unix side. 65001 comes from a locale whose languages no legacy code
# page serves (Hindi): Wine then makes the ANSI and OEM code pages both UTF-8. Such locales are
# compiled into the prefix's own folder (LOCPATH), so the system needs only the locale sources.
set -eu
prefix=$1
shift

codepage=${RAVENTO_WINE_CODEPAGE:-1252}
case $codepage in
1252)
    export LC_ALL=C.UTF-8 ;;
932)
    prefix=$prefix-cp932
    export LOCPATH="$prefix.locales" LC_ALL=ja_JP.UTF-8 ;;
65001)
    prefix=$prefix-cp65001
    export LOCPATH="$prefix.locales" LC_ALL=hi_IN.UTF-8 ;;
*)
    echo "wine-run.sh: no locale known for code page $codepage" >&2
    exit 2 ;;
esac
# The tests read it to check that they run under the code page asked for.
export RAVENTO_WINE_CODEPAGE=$codepage

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko installer on prefix creation: nothing here uses them, and there is no network.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# Wine links the prefix's Documents, Desktop, ... to $HOME: a home of its own keeps the tests
# away from the user's files.
export HOME="$prefix.home"
mkdir -p "$HOME"

# --close: the daemons wineboot starts (wineserver, services, the desktop) must not inherit the
# lock, or the next test program waits on it until they exit, half a minute after the prefix is made.
flock --close "$prefix.lock" sh -c '
    [ -f "$WINEPREFIX.ready" ] && exit 0
    if [ -n "${LOCPATH:-}" ]; then
        mkdir -p "$LOCPATH"
        localedef -i "${LC_ALL%%.*}" -f UTF-8 "$LOCPATH/$LC_ALL"
    fi
    wineboot --init >"$WINEPREFIX.log" 2>&1
    # A crashing program must fail at once: with winedbg attached it would exit with status 0.
    wine reg add "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug" /v Debugger /t REG_SZ /d "" /f >/dev/null
    touch "$WINEPREFIX.ready"
'
exec wine "$@"
