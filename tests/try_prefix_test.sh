#!/usr/bin/env bash
# try_prefix_test.sh SOURCE WINE
# scripts/try's own Wine prefix, kept in a cache of the test's own, and try
# stopped by Ctrl+C, typed on a terminal or sent to its process group: at
# moments of a first try (installing a missing package among them), then
# with the prefix kept, which must stay. Between them, two trys at once on a
# machine without a package. Then the states the prefix may be left in, each
# handled by the next try; last, try --remove-prefix leaves nothing behind.
set -euo pipefail
source=$1
source "$source/cmake/wine.sh"
use_wine "$2"
work=$(mktemp -d /tmp/varnock-try-prefix.XXXXXX)
export XDG_CACHE_HOME=$work/cache TMPDIR=$work/tmp
mkdir "$TMPDIR"
unset VARNOCK_TRY_WINEPREFIX WINEPREFIX
prefix=$XDG_CACHE_HOME/varnock/wine-prefix
# try leaves the prefix's wineserver up for the next try: this one ends it.
trap '"$source/cmake/wine-prefix.sh" stop "$wine" "$prefix"; rm -rf "$work"' EXIT
try=("$source/scripts/try" load 'C:\scripts\away.mrc')
delivered='/load -rs "C:\scripts\away.mrc"'
failures=0
# report WHAT LOG...: a failure when there are problems, shown with the LOGs.
report() {
  local what=$1
  shift
  [ ${#problems[@]} -gt 0 ] || return 0
  echo "$what: $(printf '%s; ' "${problems[@]}")" >&2
  tail -n +1 -- "$@" | tr -d '\r' | sed 's/^/  /' >&2
  failures=$((failures + 1))
}
wine_left() { grep -lszxF "WINEPREFIX=$prefix" /proc/[0-9]*/environ | tr '\n' ' ' || true; }

# A machine without one of try's packages: dpkg-query there has ninja-build
# missing until apt-get has installed it; apt-get, as apt-get does, fails at
# once while another holds its lock, and otherwise installs it, in 12 s.
bin=$work/bin
mkdir "$bin"
cat >"$bin/dpkg-query" <<EOF
#!/bin/bash
[ -e "$work/ninja-installed" ] || set -- "\${@/#ninja-build/no-ninja-build}"
exec $(command -v dpkg-query) "\$@"
EOF
cat >"$bin/apt-get" <<EOF
#!/bin/sh
exec 7>"$work/apt-get.lock"
flock -n 7 || { echo "E: Could not get lock $work/apt-get.lock" >&2; exit 100; }
echo "\$*" >>"$work/apt-get.calls"
case \$1 in
  update) sleep 1 ;;
  install) sleep 12 && touch "$work/ninja-installed" ;;
esac
EOF
printf '#!/bin/sh\nexec env "$@"\n' >"$bin/sudo"
chmod +x "$bin"/*
# how | after a line that matches | seconds later | on the machine without ninja
first_try_stops=(
  "typed|^install-deps: downloading|2|yes"
  "signal|^try: building|0"
  "signal|^try: making the Wine prefix|1"
  "signal|^try: making the Wine prefix|9"
  "typed|^try: making the Wine prefix|3"
  "typed|^try: making the Wine prefix|8"
)
kept_prefix_stops=(
  "signal|^try: starting the stand-in client|0.3"
  "typed|^try: starting the stand-in client|0.3"
)
stop_try() {  # stop_try ROW first|kept
  local how trigger delay without_ninja said ended status problems=() last path=$PATH
  IFS='|' read -r how trigger delay without_ninja <<<"$1"
  if [ -n "$without_ninja" ]; then
    rm -f "$work/ninja-installed"
    path=$bin:$PATH
  fi
  # With Wine to start as well, the client's start lasts a second or two,
  # long enough to be stopped in.
  if [ "$2" = kept ]; then
    WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
    WINEPREFIX=$prefix "$wineserver" -w
  fi
  read -r said ended status < <(python3 "$source/tests/try_ctrl_c.py" "$how" "$trigger" "$delay" "$work/log" \
                                  env PATH="$path" "${try[@]}")
  last=$(sed '/<Ctrl+C>/q' "$work/log" | sed 's/<Ctrl+C>.*//' | tr -d '\r' | grep -v '^ *$' | tail -n 1 || true)
  echo "Ctrl+C ($how) $delay s after '$trigger', at '${last:0:50}': said that it stops after $said s, ended after $ended s, status $status"
  [ "$status" = 130 ] || problems+=("status $status, not 130")
  if [ "$said" = - ] || awk "BEGIN { exit !($said > 1) }"; then
    problems+=("it did not say within a second that it stops")
  fi
  if [ "$ended" = - ] || awk "BEGIN { exit !($ended > 30) }"; then
    problems+=("it did not end within 30 s")
  fi
  [ -z "$(wine_left)" ] || problems+=("Wine left running: $(wine_left)")
  if [ "$2" = kept ]; then
    [ -e "$prefix/.varnock-prefix-made" ] || problems+=("the kept prefix is gone")
  elif [ -e "$prefix/.varnock-prefix-made" ]; then
    # Stopped once the prefix was made: the next row is a first try again.
    "$source/cmake/wine-prefix.sh" stop "$wine" "$prefix"
  else
    [ ! -e "$prefix" ] || problems+=("it left the unfinished prefix")
    [ -z "$(ls -A "$TMPDIR")" ] || problems+=("it left $(ls -A "$TMPDIR") in TMPDIR")
  fi
  report "Ctrl+C ($how) $delay s after '$trigger'" "$work/log"
}
for row in "${first_try_stops[@]}"; do stop_try "$row" first; done

# Two trys at once there.
rm -f "$work/ninja-installed" "$work/apt-get.calls"
for n in 1 2; do
  (status=0
   PATH=$bin:$PATH "${try[@]}" >"$work/out$n" 2>"$work/log$n" || status=$?
   echo "$status" >"$work/status$n") &
done
wait
problems=()
for n in 1 2; do
  [ "$(cat "$work/status$n")" = 0 ] || problems+=("try $n: status $(cat "$work/status$n")")
  grep -qxF "$delivered" "$work/out$n" || problems+=("try $n: the client did not receive the command")
done
waited=$(cat "$work/log1" "$work/log2" | grep -c '^install-deps: waiting for another install-deps' || true)
[ "$waited" = 1 ] || problems+=("$waited install-deps said that they wait for another, not 1")
grep -q '(still waiting for the other install-deps' "$work/log1" "$work/log2" ||
  problems+=("no install-deps said that it still waits")
installs=$(grep -c '^install' "$work/apt-get.calls" || true)
[ "$installs" = 1 ] || problems+=("apt-get install ran $installs times, not once")
report "two trys on a machine without ninja" "$work/log1" "$work/log2"
echo "two trys at once on a machine without ninja: ${#problems[@]} problems"

for row in "${kept_prefix_stops[@]}"; do stop_try "$row" kept; done
echo "$((${#first_try_stops[@]} + ${#kept_prefix_stops[@]})) moments of Ctrl+C tried"

as_left() { :; }
unfinished() { rm -f "$prefix/.varnock-prefix-made"; }
without_windows() { rm -rf "$prefix/drive_c"; }
# The registry's user half, the headless display's setting with it: Wine
# still starts there, but makes no window. Its wineserver, which would
# write it back, is ended first.
without_user_settings() {
  WINEPREFIX=$prefix "$wineserver" -k
  rm "$prefix/user.reg"
}
held_by_another_try() {
  (flock "$XDG_CACHE_HOME/varnock/wine-prefix.lock" sh -c ": >'$work/held'; sleep 3" &)
  while [ ! -e "$work/held" ]; do sleep 0.1; done
}

# Each row starts from what the row before left, changed as the row says;
# try must say the line the row names, not say the other, and deliver the
# command.
# what is done to the prefix first | a line try must say | a line it must not
rows=(
  "as_left||making the Wine prefix"
  "unfinished|try: making the Wine prefix|does not work"
  "without_windows|does not work: the stand-in client cannot make its window there|"
  "without_user_settings|does not work: the stand-in client cannot make its window there|"
  "held_by_another_try|try: waiting for another try|making the Wine prefix"
)
failures_before=$failures
for row in "${rows[@]}"; do
  IFS='|' read -r change said not_said <<<"$row"
  "$change"
  rm -f "$work/held"
  status=0
  output=$("${try[@]}" 2>"$work/log") || status=$?
  problems=()
  [ "$status" = 0 ] || problems+=("status $status")
  grep -qxF "$delivered" <<<"$output" || problems+=("the client did not receive the command")
  [ -z "$said" ] || grep -q "$said" "$work/log" || problems+=("it did not say '$said'")
  [ -z "$not_said" ] || ! grep -q "$not_said" "$work/log" || problems+=("it said '$not_said'")
  report "after $change" "$work/log"
done
echo "${#rows[@]} prefix states, $((failures - failures_before)) failed"

# The prefix goes, with what its Wine keeps in the temporary folder, and the
# cache folder too.
problems=()
"$source/scripts/try" --remove-prefix 2>"$work/log" || problems+=("status $?")
[ ! -e "$XDG_CACHE_HOME/varnock" ] || problems+=("$XDG_CACHE_HOME/varnock is still there")
[ -z "$(ls -A "$TMPDIR")" ] || problems+=("it left $(ls -A "$TMPDIR") in TMPDIR")
[ -z "$(wine_left)" ] || problems+=("Wine left running: $(wine_left)")
report "try --remove-prefix" "$work/log"

echo "$failures failed"
[ "$failures" = 0 ]
