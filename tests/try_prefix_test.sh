#!/usr/bin/env bash
# try_prefix_test.sh SOURCE
# scripts/try's own Wine prefix, kept in the user's cache: made on first use,
# taken as it is by the next try, made again when a first run was cut short
# (the prefix lacks the mark try leaves once its set-up is complete) or when
# it no longer works, and waited for while another try holds it. Each row
# starts from what the row before left, changed as the row says; try must
# say the line the row names, not say the other, and deliver the command.
set -euo pipefail
source=$1
work=$(mktemp -d /tmp/varnock-try-prefix.XXXXXX)
export XDG_CACHE_HOME=$work/cache
unset VARNOCK_TRY_WINEPREFIX WINEPREFIX
prefix=$XDG_CACHE_HOME/varnock/wine-prefix
# try leaves the prefix's wineserver up for the next try: this one ends it.
trap '"$source/cmake/wine-prefix.sh" stop /usr/lib/wine/wine64 "$prefix"; rm -rf "$work"' EXIT

as_left() { :; }
unfinished() { rm -f "$prefix/.varnock-prefix-made"; }
without_windows() { rm -rf "$prefix/drive_c"; }
held_by_another_try() {
  (flock "$XDG_CACHE_HOME/varnock/wine-prefix.lock" sh -c ": >'$work/held'; sleep 3" &)
  while [ ! -e "$work/held" ]; do sleep 0.1; done
}

# what is done to the prefix first | a line try must say | a line it must not
rows=(
  "as_left|try: making the Wine prefix|does not work"
  "as_left||making the Wine prefix"
  "unfinished|try: making the Wine prefix|does not work"
  "without_windows|does not work: making it again|"
  "held_by_another_try|try: waiting for another try|making the Wine prefix"
)
failures=0
for row in "${rows[@]}"; do
  IFS='|' read -r change said not_said <<<"$row"
  "$change"
  rm -f "$work/held"
  status=0
  output=$("$source/scripts/try" load 'C:\scripts\away.mrc' 2>"$work/log") || status=$?
  problems=()
  [ "$status" = 0 ] || problems+=("status $status")
  grep -qx '/load -rs "C:\\scripts\\away.mrc"' <<<"$output" || problems+=("the client did not receive the command")
  [ -z "$said" ] || grep -q "$said" "$work/log" || problems+=("it did not say '$said'")
  [ -z "$not_said" ] || ! grep -q "$not_said" "$work/log" || problems+=("it said '$not_said'")
  if [ ${#problems[@]} -gt 0 ]; then
    echo "after $change: $(printf '%s; ' "${problems[@]}")" >&2
    sed 's/^/  /' "$work/log" >&2
    failures=$((failures + 1))
  fi
done
echo "${#rows[@]} prefix states, $failures failed"
[ "$failures" = 0 ]
