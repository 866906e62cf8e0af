#!/usr/bin/env bash
# try_paths_test.sh SOURCE WINE
# Runs scripts/try from a folder of its own, as a user would. First with
# arguments it answers by its usage alone: the status, the stream, and that
# it neither built nor made a Wine prefix. Then it checks the path that the
# stand-in client received for each PATH typed: a relative path is the
# caller's, an existing file reaches the loader in its Z: form, anything
# else exactly as typed. WINEPREFIX names a prefix already made (the tests'
# own), which every path shares.
set -euo pipefail
source=$1 wine=$2
: "${WINEPREFIX:?set WINEPREFIX to a Wine prefix made by cmake/wine-prefix.sh}"
source "$source/cmake/wine.sh"
work=$(mktemp -d /tmp/varnock-try-paths.XXXXXX)
trap 'rm -rf "$work"' EXIT
caller=$work/caller
# The caller has a file of the same relative name as the project's example,
# so that a path taken from the project's folder shows.
mkdir -p "$caller/my dir" "$caller/examples" "$work/other"
touch "$caller/my dir/a b.mrc" "$caller/examples/away.mrc" "$work/other/c.mrc"

# exit status | where the usage goes | the arguments
usage_cases=(
  "0|stdout|--help"
  "0|stdout|-h"
  "2|stderr|load"
  "2|stderr|load examples/away.mrc more"
)
usage_failures=0
for row in "${usage_cases[@]}"; do
  IFS='|' read -r expected_status stream typed <<<"$row"
  read -ra arguments <<<"$typed"
  status=0
  # Its own cache, where a prefix would be made, and no prefix of the tests.
  (cd "$caller" && env -u VARNOCK_TRY_WINEPREFIX XDG_CACHE_HOME="$work/cache" \
     "$source/scripts/try" "${arguments[@]}" >"$work/out" 2>"$work/err") || status=$?
  if [ "$stream" = stdout ]; then usage=$work/out other=$work/err; else usage=$work/err other=$work/out; fi
  problems=()
  [ "$status" = "$expected_status" ] || problems+=("status $status, expected $expected_status")
  [ "$(head -n 1 "$usage")" = "usage: scripts/try [VERB PATH]" ] || problems+=("no usage on $stream")
  [ ! -s "$other" ] || problems+=("more than the usage was written")
  [ ! -e "$work/cache" ] || problems+=("it went on to the Wine prefix")
  if [ ${#problems[@]} -gt 0 ]; then
    (IFS=';'; echo "try $typed: ${problems[*]}") >&2
    sed 's/^/  stdout: /' "$work/out" >&2
    sed 's/^/  stderr: /' "$work/err" >&2
    usage_failures=$((usage_failures + 1))
  fi
  rm -rf "$work/cache"
done
echo "${#usage_cases[@]} usage cases, $usage_failures failed"

# PATH typed | what the client must receive
cases=(
  "my dir/a b.mrc|$(windows_path "$caller/my dir/a b.mrc")"
  "examples/away.mrc|$(windows_path "$caller/examples/away.mrc")"
  "../other/c.mrc|$(windows_path "$work/other/c.mrc")"
  "$work/other/c.mrc|$(windows_path "$work/other/c.mrc")"
  'C:\scripts\away.mrc|C:\scripts\away.mrc'
  "missing/away.mrc|missing/away.mrc"
)
failures=0
for row in "${cases[@]}"; do
  typed=${row%%|*} expected=${row#*|}
  status=0
  output=$(cd "$caller" && VARNOCK_TRY_WINEPREFIX=$WINEPREFIX "$source/scripts/try" load "$typed" 2>"$work/log") ||
    status=$?
  received=$(printf '%s\n' "$output" | sed -n 's|^/load -rs "\(.*\)"$|\1|p')
  if [ "$status" != 0 ] || [ "$received" != "$expected" ]; then
    echo "try load '$typed' from $caller: status $status, the client received '$received'; expected '$expected'" >&2
    cat "$work/log" >&2
    failures=$((failures + 1))
  fi
done
echo "${#cases[@]} paths, $failures failed"
[ "$usage_failures" = 0 ] && [ "$failures" = 0 ]
