#!/usr/bin/env bash
# try_paths_test.sh SOURCE
# Runs scripts/try from a folder of its own, as a user would, and checks the
# path that the stand-in client received for each PATH typed: a relative
# path is the caller's, an existing file reaches the loader in its Z: form,
# anything else exactly as typed. WINEPREFIX names a prefix already made
# (the tests' own), which every case shares.
set -euo pipefail
source=$1
: "${WINEPREFIX:?set WINEPREFIX to a Wine prefix made by cmake/wine-prefix.sh}"
work=$(mktemp -d /tmp/varnock-try-paths.XXXXXX)
trap 'rm -rf "$work"' EXIT
caller=$work/caller
# The caller has a file of the same relative name as the project's example,
# so that a path taken from the project's folder shows.
mkdir -p "$caller/my dir" "$caller/examples" "$work/other"
touch "$caller/my dir/a b.mrc" "$caller/examples/away.mrc" "$work/other/c.mrc"
z() { local linux=$1; printf 'Z:%s' "${linux//\//\\}"; }

# PATH typed | what the client must receive
cases=(
  "my dir/a b.mrc|$(z "$caller/my dir/a b.mrc")"
  "examples/away.mrc|$(z "$caller/examples/away.mrc")"
  "../other/c.mrc|$(z "$work/other/c.mrc")"
  "$work/other/c.mrc|$(z "$work/other/c.mrc")"
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
[ "$failures" = 0 ]
