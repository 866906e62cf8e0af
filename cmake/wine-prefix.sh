#!/usr/bin/env bash
# wine-prefix.sh start|serve|end|stop WINE PREFIX
# start: makes a new, headless Wine prefix at PREFIX (removing any old one).
# serve: start, then keeps the prefix's wineserver and Wine's own services
#        (services.exe and the rest) up until stop, their output closed. Else
#        the first program run in the prefix starts them, and they hold its
#        output open until the prefix is idle: ctest, which reads a test's
#        output to its end, then waits for every test running beside it.
# end:   ends this prefix's Wine, and only its: its wineserver, every program
#        connected to it, and any program of the prefix still starting, which
#        would otherwise wait for that server forever.
# stop:  end, then removes the prefix and the folder the wineserver kept in
#        the temporary folder.
set -euo pipefail
source "$(dirname "$0")/wine.sh"
action=$1 prefix=$3
use_wine "$2"
# The prefix is always made by the 64-bit loader where there is one, so that
# 32- and 64-bit programs both run in it, whichever build's tests use it.
boot=$wine
[ -x "$(dirname "$wine")/wine64" ] && boot=$(dirname "$wine")/wine64
export WINEPREFIX=$prefix LC_ALL=C.UTF-8

end_wine() {
  local pid
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
  processes_with "WINEPREFIX=$prefix" | while read -r pid; do
    [[ $(readlink "/proc/$pid/exe") != "$(dirname "$wine")"/* ]] || kill -KILL "$pid" 2>/dev/null || true
  done
}

# Ends the prefix's Wine, then removes the prefix and the folder of the
# server's socket, which outlives it: server-DEV-INODE (the prefix's, in hex)
# in /tmp/.wine-UID (Wine's) or in a /tmp/wine-XXXXXX of its own (Debian's).
# While the prefix exists no other has its inode: a folder of that name
# elsewhere was left by a removed prefix, and goes too.
remove_prefix() {
  local server_folder folder
  server_folder=server-$(stat -c %D "$prefix")-$(printf '%x' "$(stat -c %i "$prefix")")
  end_wine
  for folder in "/tmp/.wine-$(id -u)/$server_folder" /tmp/wine-*/"$server_folder"; do
    [ -O "$folder" ] || continue
    rm -rf "$folder"
    rmdir "$(dirname "$folder")" 2>/dev/null || true  # when that was its only one
  done
  rm -rf "$prefix"
}

case $action in
  start | serve)
    if [ -d "$prefix" ]; then remove_prefix; fi
    "$boot" wineboot -i >/dev/null 2>&1
    # Without a display, windows can be made only with the null driver, and
    # the setting must be in force before the first window is.
    "$boot" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    # Its end writes the registry to the prefix's files, which copies take.
    "$wineserver" -w
    if [ "$action" = serve ]; then
      "$wineserver" -p </dev/null >/dev/null 2>&1
      "$boot" reg query 'HKCU\Software\Wine\Drivers' /v Graphics </dev/null >/dev/null 2>&1
    fi
    ;;
  end) end_wine ;;
  stop)
    if [ -d "$prefix" ]; then remove_prefix; fi
    ;;
  *)
    echo "usage: wine-prefix.sh start|serve|end|stop WINE PREFIX" >&2
    exit 2
    ;;
esac
