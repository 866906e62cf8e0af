# shellcheck shell=bash
# What the bats tests of scripts/try share: where the project and its Wine
# are, running try (or anything) with what it wrote kept, and, when a test
# fails, all of that shown after its own message.
#
# VARNOCK_SOURCE_DIR names the project (by default, the folder above this
# file's), VARNOCK_WINE the Wine loader (by default, that of the
# windows-x64 tree, which try builds and runs).
load /usr/lib/bats/bats-support/load
load /usr/lib/bats/bats-assert/load

source=${VARNOCK_SOURCE_DIR:-$(cd "$BATS_TEST_DIRNAME/.." && pwd)}
# Unsets TMPDIR, which no Wine may see: a test gives it to try alone.
source "$source/cmake/wine.sh"
use_wine "${VARNOCK_WINE:-$(wine_of "$source/build/windows-x64")}"

# run_kept NAME COMMAND...: runs COMMAND with its standard output in
# $BATS_TEST_TMPDIR/NAME.out and its standard error in NAME.log ($log), both
# shown if the test fails; sets $exit_status to its exit status and $out to
# its output.
run_kept() {
  local name=$1
  shift
  exit_status=0 log=$BATS_TEST_TMPDIR/$name.log
  "$@" >"$BATS_TEST_TMPDIR/$name.out" 2>"$log" || exit_status=$?
  out=$(cat "$BATS_TEST_TMPDIR/$name.out")
  printf '%s\n' "$*" >"$BATS_TEST_TMPDIR/$name.command"
  printf '%s\n' "$exit_status" >"$BATS_TEST_TMPDIR/$name.status"
}

# The received command in try's output.
received_path() {
  sed -n 's|^/load -rs "\(.*\)"$|\1|p' <<<"$out"
}

# not_delivered WHAT: fails, saying why the try that run_kept ran last did
# not deliver. Wine now and then fails to start a program, which then ends
# with status 1 before any of its code runs: the loader, whose banner comes
# first, wrote nothing at all.
not_delivered() {
  if grep -q '^try: running varnock.exe' "$log" && ! grep -q -e '--- Varnock ---' <<<"$out"; then
    fail "$1: Wine did not start varnock.exe: it ended with status $exit_status without a line, not even its banner (Wine's own, when it gave one, is in try's standard error below)"
  fi
  fail "$1: status $exit_status, the client received '$(received_path)'"
}

# For teardown: after a failure, what each command run_kept ran wrote. For
# try, its standard error holds its own steps and Wine's lines (the
# loader's, and the stand-in client's when it did not start), its standard
# output the loader's output and what the client received, and its exit
# status is the loader's once it ran.
show_what_was_kept() {
  [ -z "${BATS_TEST_COMPLETED:-}" ] || return 0
  local command name
  for command in "$BATS_TEST_TMPDIR"/*.command; do
    [ -e "$command" ] || continue
    name=${command%.command}
    echo "-- $(cat "$command")"
    [ ! -e "$name.status" ] || echo "   exit status $(cat "$name.status")"
    if [ -e "$name.out" ]; then
      echo "   its standard output:"
      tr -d '\r' <"$name.out" | sed 's/^/     /'
      echo "   its standard error:"
    fi
    tr -d '\r' <"$name.log" | sed 's/^/     /'
  done
}

# The hooks of the files that run try in its own prefix, in a cache of the
# test's own, its temporary files in a folder of the test's own (TMPDIR
# given to try alone), which must be left empty. With from_kept_prefix set
# (try_kept_prefix, try_remade_prefix), each test starts from a prefix that
# try keeps: a copy, sharing its files (Wine writes a file anew, by its
# name, rather than into it), of one made once per file: the ctest run's,
# WINEPREFIX, or run by hand without it, one made for the file. try_paths
# has hooks of its own.
setup_file() {
  [ -n "${from_kept_prefix-}" ] || return 0
  if [ -n "${WINEPREFIX:-}" ]; then
    cp -a "$WINEPREFIX" "$BATS_FILE_TMPDIR/made-prefix"
  else
    "$source/cmake/wine-prefix.sh" start "$wine" "$BATS_FILE_TMPDIR/made-prefix"
  fi
}

teardown_file() {
  [ -z "${from_kept_prefix-}" ] || "$source/cmake/wine-prefix.sh" stop "$wine" "$BATS_FILE_TMPDIR/made-prefix"
}

setup() {
  export XDG_CACHE_HOME=$BATS_TEST_TMPDIR/cache
  unset VARNOCK_TRY_WINEPREFIX WINEPREFIX
  prefix=$XDG_CACHE_HOME/varnock/wine-prefix
  try_tmpdir=$BATS_TEST_TMPDIR/tmp
  mkdir -p "$try_tmpdir"
  try=(env TMPDIR="$try_tmpdir" "$source/scripts/try" load 'C:\scripts\away.mrc')
  # shellcheck disable=SC2034  # the tests'
  delivered='/load -rs "C:\scripts\away.mrc"'
  [ -n "${from_kept_prefix-}" ] || return 0
  mkdir -p "$XDG_CACHE_HOME/varnock"
  cp -al "$BATS_FILE_TMPDIR/made-prefix" "$prefix"
  touch "$prefix/.varnock-prefix-made"
}

teardown() {
  show_what_was_kept
  stop_own_prefix
}

# try leaves the prefix's wineserver up for the next try: this ends it.
stop_own_prefix() {
  "$source/cmake/wine-prefix.sh" stop "$wine" "$prefix"
}

# try_delivers SAYS NOT_SAYS: try delivers, saying a line that matches SAYS
# (when given) and none that matches NOT_SAYS (when given).
try_delivers() {
  run_kept try "${try[@]}"
  if [ "$exit_status" != 0 ] || ! grep -qxF "$delivered" <<<"$out"; then
    not_delivered "try"
  fi
  [ -z "$1" ] || grep -q "$1" "$BATS_TEST_TMPDIR/try.log" || fail "it did not say '$1'"
  [ -z "$2" ] || ! grep -q "$2" "$BATS_TEST_TMPDIR/try.log" || fail "it said '$2'"
}

# running_with LINE...: the command lines of what runs with one of these
# lines in its environment (processes_with).
running_with() {
  processes_with "$@" | while read -r pid; do
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null && echo
  done
}

# A machine without one of try's packages, for the commands run with
# $without_ninja_path as PATH: dpkg-query there has ninja-build missing until
# apt-get has installed it. apt-get does as apt's does with
# -o DPkg::Lock::Timeout: update fails at once while another update runs;
# install, while another install runs, waits, saying so each second, or
# without that option fails at once. It installs until the try that waits
# for it has said so, then that it still waits (a minute at most).
machine_without_ninja() {
  local bin=$BATS_TEST_TMPDIR/bin stubs=$BATS_TEST_TMPDIR
  mkdir -p "$bin"
  cat >"$bin/dpkg-query" <<STUB
#!/bin/bash
[ -e "$stubs/ninja-installed" ] || set -- "\${@/#ninja-build/no-ninja-build}"
exec $(command -v dpkg-query) "\$@"
STUB
  cat >"$bin/apt-get" <<STUB
#!/bin/sh
case " \$* " in
  *" update "*)
    exec 7>"$stubs/lists.lock"
    flock -n 7 || { echo "E: Could not get lock $stubs/lists.lock" >&2; exit 100; }
    sleep 1 ;;
  *" install "*)
    exec 7>"$stubs/lock-frontend"
    until flock -n 7; do
      case " \$* " in *" -o DPkg::Lock::Timeout="*) ;; *) echo "E: Could not get lock $stubs/lock-frontend" >&2; exit 100 ;; esac
      echo "Waiting for cache lock: Could not get lock $stubs/lock-frontend. It is held by process 1 (apt-get)..."
      sleep 1
    done
    [ ! -e "$stubs/ninja-installed" ] || exit 0
    for _ in \$(seq 60); do
      ! grep -hs -A1 'Waiting for cache lock' "$stubs"/*.log | grep -q '(still installing the packages' || break
      sleep 1
    done
    touch "$stubs/ninja-installed" ;;
esac
STUB
  printf '#!/bin/sh\nexec env "$@"\n' >"$bin/sudo"
  chmod +x "$bin"/*
  # shellcheck disable=SC2034  # the tests'
  without_ninja_path=$bin:$PATH
}

# stop_try HOW TRIGGER DELAY [PATH]: runs try (with PATH as PATH) and stops
# it with Ctrl+C, typed on its terminal or sent to its process group as
# SIGINT (HOW: typed|signal), DELAY s after it has said a line that matches
# TRIGGER. try must say that it stops, end with status 130 and leave no Wine
# of its prefix running, nor anything it started (what has its mark in its
# environment): what try ends is given a minute to go, as try does not wait
# for all of it; a Wine left up would stay for 10 minutes.
# What it wrote is kept as stop_try_N, with how long it took.
stop_try() {
  local how=$1 trigger=$2 delay=$3 path=${4:-$PATH} name sent said ended mark left
  local moment="Ctrl+C ($how) $delay s after '$trigger'"
  name=stop_try_$((++stops))
  mark=VARNOCK_STOPPED_TRY=$BATS_TEST_TMPDIR/$name
  read -r sent said ended exit_status < <(python3 "$source/tests/try_ctrl_c.py" "$how" "$trigger" "$delay" \
                                       "$BATS_TEST_TMPDIR/$name.log" env "$mark" PATH="$path" "${try[@]}")
  echo "try, stopped by $moment: said that it stops $said s after, ended $ended s after" \
    >"$BATS_TEST_TMPDIR/$name.command"
  echo "$exit_status" >"$BATS_TEST_TMPDIR/$name.status"
  [ "$sent" != - ] || fail "try never said a line that matches '$trigger' (waited until it ended, 300 s at most)"
  [ "$said" != - ] || fail "$moment: it did not say that it stops (waited until it ended, 120 s at most)"
  [ "$ended" != - ] || fail "$moment: it did not end (waited 120 s)"
  [ "$exit_status" = 130 ] || fail "$moment: status $exit_status, not 130"
  for _ in {1..600}; do
    left=$(running_with "$mark" "WINEPREFIX=$prefix")
    [ -n "$left" ] || return 0
    sleep 0.1
  done
  fail "$moment: it left running, a minute later: $left"
}
