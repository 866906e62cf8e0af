#!/usr/bin/env bash
# try_prefix_test.sh SOURCE
# scripts/try's own Wine prefix, kept in the user's cache, and try stopped
# by Ctrl+C. First Ctrl+C, at moments of a first try, the installing of a
# missing package (apt-get stubbed) and the prefix's making among them,
# typed on a terminal and sent as a signal to try's process group: try must
# say at once that it stops, end within 30 s, and leave no Wine running, no
# unfinished prefix and nothing of Wine's in the temporary folder. Then two
# trys at once on that machine without the package: the second install-deps
# waits for the first, and both trys deliver. Then Ctrl+C again, with the
# prefix kept, which must stay. Then the prefix's states: taken as it is by
# the next try, made again when a first run was cut short (the prefix lacks
# the mark try leaves once its set-up is complete) or when the stand-in
# client cannot make its window there, and waited for while another try
# holds it. Last, try --remove-prefix leaves nothing behind.
set -euo pipefail
source=$1
work=$(mktemp -d /tmp/varnock-try-prefix.XXXXXX)
export XDG_CACHE_HOME=$work/cache TMPDIR=$work/tmp
mkdir "$TMPDIR"
unset VARNOCK_TRY_WINEPREFIX WINEPREFIX
prefix=$XDG_CACHE_HOME/varnock/wine-prefix
# try leaves the prefix's wineserver up for the next try: this one ends it.
trap '"$source/cmake/wine-prefix.sh" stop /usr/lib/wine/wine64 "$prefix"; rm -rf "$work"' EXIT
try=("$source/scripts/try" load 'C:\scripts\away.mrc')
delivered='/load -rs "C:\scripts\away.mrc"'
failures=0
report() {  # report WHAT PROBLEM...: a failure when there are problems
  local what=$1
  shift
  [ $# -gt 0 ] || return 0
  echo "$what: $(printf '%s; ' "$@")" >&2
  failures=$((failures + 1))
}
wine_left() { grep -lszxF "WINEPREFIX=$prefix" /proc/[0-9]*/environ | tr '\n' ' ' || true; }

# Runs try as a terminal runs a command, and DELAY s after it has said a
# line that matches TRIGGER, types Ctrl+C on its pseudo-terminal ("typed")
# or sends SIGINT to its process group ("signal", try not on a terminal).
# Prints how long after that it said that it stops and it ended, in
# seconds ("-" for never), and its exit status; keeps what it wrote in LOG.
ctrl_c='
import os, pty, re, select, signal, subprocess, sys, time
how, trigger, delay, log = sys.argv[1], sys.argv[2].encode(), float(sys.argv[3]), sys.argv[4]
if how == "typed":
    pid, fd = pty.fork()
    if pid == 0:
        os.execvp(sys.argv[5], sys.argv[5:])
else:
    fd, write_end = os.pipe()
    pid = subprocess.Popen(sys.argv[5:], stdin=subprocess.DEVNULL, stdout=write_end,
                           stderr=write_end, start_new_session=True).pid
    os.close(write_end)
text, due, sent, said, status, open_ = b"", None, None, None, None, True
started = time.monotonic()
while status is None:
    now = time.monotonic()
    if due is None and re.search(trigger, text, re.M):
        due = now + delay
    if sent is None and due is not None and now >= due:
        if how == "typed":
            os.write(fd, b"\x03")
        else:
            os.killpg(pid, signal.SIGINT)
        sent, at = now, len(text)
        text += b"<Ctrl+C>"
    if now - (sent or started) > (60 if sent else 180):
        try:
            os.killpg(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    if open_ and select.select([fd], [], [], 0.05)[0]:
        try:
            data = os.read(fd, 4096)
        except OSError:
            data = b""
        open_ = bool(data)
        text += data
        if sent and said is None and b"try: stopping" in text[at:]:
            said = time.monotonic()
        continue
    if not open_:
        time.sleep(0.05)
    done, wait_status = os.waitpid(pid, os.WNOHANG)
    if done:
        status = os.waitstatus_to_exitcode(wait_status)
ended = time.monotonic()
open(log, "wb").write(text)
since = lambda moment: "%.2f" % (moment - sent) if sent and moment else "-"
print(since(said), since(ended), status)
'
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
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -w
  fi
  read -r said ended status < <(python3 -c "$ctrl_c" "$how" "$trigger" "$delay" "$work/log" \
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
    "$source/cmake/wine-prefix.sh" stop /usr/lib/wine/wine64 "$prefix"
  else
    [ ! -e "$prefix" ] || problems+=("it left the unfinished prefix")
    [ -z "$(ls -A "$TMPDIR")" ] || problems+=("it left $(ls -A "$TMPDIR") in TMPDIR")
  fi
  report "Ctrl+C ($how) $delay s after '$trigger'" ${problems[@]+"${problems[@]}"}
  [ ${#problems[@]} -eq 0 ] || tr -d '\r' <"$work/log" | sed 's/^/  /' >&2
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
report "two trys on a machine without ninja" ${problems[@]+"${problems[@]}"}
if [ ${#problems[@]} -gt 0 ]; then
  for n in 1 2; do sed "s/^/  try $n: /" "$work/log$n" >&2; done
fi
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
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -k
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
row_failures=0
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
  report "after $change" ${problems[@]+"${problems[@]}"}
  if [ ${#problems[@]} -gt 0 ]; then
    sed 's/^/  /' "$work/log" >&2
    row_failures=$((row_failures + 1))
  fi
done
echo "${#rows[@]} prefix states, $row_failures failed"

# The prefix goes, with what its Wine keeps in the temporary folder, and the
# cache folder too.
problems=()
"$source/scripts/try" --remove-prefix 2>"$work/log" || problems+=("status $?")
[ ! -e "$XDG_CACHE_HOME/varnock" ] || problems+=("$XDG_CACHE_HOME/varnock is still there")
[ -z "$(ls -A "$TMPDIR")" ] || problems+=("it left $(ls -A "$TMPDIR") in TMPDIR")
[ -z "$(wine_left)" ] || problems+=("Wine left running: $(wine_left)")
report "try --remove-prefix" ${problems[@]+"${problems[@]}"}

echo "$failures failed"
[ "$failures" = 0 ]
