# shellcheck shell=bash
# How this project runs Wine, sourced by every script that does: quiet, and
# never offering to install Mono or Gecko into a new prefix. Which Wine is
# CMake's to find (the toolchain files' VARNOCK_WINE): scripts take it from a
# configured tree with wine_of, or as an argument from CMake.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# wine_of BUILD_TREE: the Wine loader that CMake found for that tree.
wine_of() {
  sed -n 's/^VARNOCK_WINE:FILEPATH=//p' "$1/CMakeCache.txt"
}

# use_wine WINE: sets $wine, and $wineserver, the one beside it.
use_wine() {
  # shellcheck disable=SC2034  # the caller's
  wine=$1 wineserver=$(dirname "$1")/wineserver
}

# windows_path PATH: how Wine, in $WINEPREFIX, names that Linux path.
windows_path() {
  "${wine:?}" winepath -w "$1" </dev/null 2>/dev/null
}
