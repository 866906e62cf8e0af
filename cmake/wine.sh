# shellcheck shell=bash
# How this project runs Wine, sourced by every script that does: quiet, and
# never offering to install Mono or Gecko into a new prefix. Which Wine is
# CMake's to find (the toolchain files' VARNOCK_WINE): scripts take it from a
# configured tree with wine_of, and its wineserver from beside it.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# wine_of BUILD_TREE: the Wine loader that CMake found for that tree.
wine_of() {
  sed -n 's/^VARNOCK_WINE:FILEPATH=//p' "$1/CMakeCache.txt"
}

# windows_path PATH: how Wine, in $WINEPREFIX, names that Linux path.
windows_path() {
  # shellcheck disable=SC2154  # $wine is the caller's
  "$wine" winepath -w "$1" </dev/null 2>/dev/null
}
