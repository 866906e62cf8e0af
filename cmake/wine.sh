# shellcheck shell=bash
# How this project runs Wine, sourced by every script that does: quiet, and
# never offering to install Mono or Gecko into a new prefix. VARNOCK_WINEDEBUG
# asks for Wine's debug output (WINEDEBUG's syntax, such as warn+all; not
# WINEDEBUG, which a shell may keep set for other programs). Without it Wine
# says only the line it gives when, now and then, it cannot start a program
# ("err:virtual:virtual_alloc_first_teb wine: failed to map the shared user
# data: c0000018"): that program then ends with status 1 before any of its
# own code runs, which would otherwise look like the loader's refusal.
export WINEDEBUG=${VARNOCK_WINEDEBUG:--all,err+virtual} WINEDLLOVERRIDES="mscoree,mshtml="
# Debian 13's Wine 10 aborts ("free(): invalid pointer") in every call made
# while TMPDIR is set, so no Wine started from here sees it: each wineserver
# keeps its socket's folder in /tmp. The scripts' own temporary files still go
# where the caller's TMPDIR said: mktemp -p "$temporary_folder".
# shellcheck disable=SC2034  # the caller's
temporary_folder=${TMPDIR:-/tmp}
unset TMPDIR

# wine_of BUILD_TREE: the Wine loader that CMake found for that tree
# (the toolchain files' VARNOCK_WINE).
wine_of() {
  sed -n 's/^VARNOCK_WINE:FILEPATH=//p' "$1/CMakeCache.txt"
}

# use_wine WINE: sets $wine, and $wineserver, the one beside it.
use_wine() {
  # shellcheck disable=SC2034  # the caller's
  wine=$1 wineserver=$(dirname "$1")/wineserver
}

# processes_with LINE...: the pids of this user's processes whose environment
# holds one of these lines (such as WINEPREFIX=...), a line each.
processes_with() {
  local line patterns=()
  for line; do patterns+=(-e "$line"); done
  grep -lszxF "${patterns[@]}" /proc/[0-9]*/environ | cut -d/ -f3 || true
}

# windows_path PATH: how Wine, in $WINEPREFIX, names that Linux path.
windows_path() {
  "${wine:?}" winepath -w "$1" </dev/null 2>/dev/null
}
