#!/usr/bin/env bash
# wine-prefix.sh start|stop WINE PREFIX
# start: makes a new, headless Wine prefix at PREFIX (removing any old one).
# stop:  ends this prefix's wineserver, and only its, then removes the prefix.
set -euo pipefail
action=$1 wine=$2 prefix=$3
wineserver=$(dirname "$wine")/wineserver
# The prefix is always made by the 64-bit loader where there is one, so that
# 32- and 64-bit programs both run in it, whichever build's tests use it.
boot=$wine
[ -x "$(dirname "$wine")/wine64" ] && boot=$(dirname "$wine")/wine64
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8

case $action in
  start)
    if [ -d "$prefix" ]; then "$wineserver" -k 2>/dev/null || true; rm -rf "$prefix"; fi
    "$boot" wineboot -i >/dev/null 2>&1
    # Without a display, windows can be made only with the null driver, and
    # the setting must be in force before the first window is.
    "$boot" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    "$wineserver" -w
    ;;
  stop)
    [ -d "$prefix" ] || exit 0
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    rm -rf "$prefix"
    ;;
  *)
    echo "usage: wine-prefix.sh start|stop WINE PREFIX" >&2
    exit 2
    ;;
esac
