#!/usr/bin/env bats
# scripts/try as a user runs it, from a folder of their own: the arguments
# it answers by its usage, the TMPDIR it refuses, the loader's status it
# passes on, and the path the stand-in client receives for each PATH typed.
# try runs in the Wine prefix WINEPREFIX names (the ctest run's, shared by
# the paths), or run by hand without it, in one made for the file.

# shellcheck disable=SC2154  # set by try_helpers.bash, which shellcheck does not follow through load
load try_helpers

setup_file() {
  if [ -z "${WINEPREFIX:-}" ]; then
    export WINEPREFIX=$BATS_FILE_TMPDIR/wine-prefix VARNOCK_OWN_PREFIX=1
    "$source/cmake/wine-prefix.sh" start "$wine" "$WINEPREFIX"
  fi
  # The caller has a file of the same relative name as the project's
  # example, so that a path taken from the project's folder shows.
  local work=$BATS_FILE_TMPDIR
  mkdir -p "$work/caller/my dir" "$work/caller/examples" "$work/other"
  touch "$work/caller/my dir/a b.mrc" "$work/caller/examples/away.mrc" "$work/other/c.mrc"
}

teardown_file() {
  [ -z "${VARNOCK_OWN_PREFIX:-}" ] || "$source/cmake/wine-prefix.sh" stop "$wine" "$WINEPREFIX"
}

setup() {
  caller=$BATS_FILE_TMPDIR/caller other=$BATS_FILE_TMPDIR/other
}

teardown() {
  show_what_was_kept
}

# usage_case STATUS STREAM ARGUMENTS...: try answers with its usage on
# STREAM (and for wrong ARGUMENTS, a line that says so), with STATUS, having
# neither built nor made a prefix, in a cache of its own and with no prefix
# of the tests'.
usage_case() {
  local expected_status=$1 stream=$2 name usage other
  shift 2
  name=try_usage_$((++cases))
  run_kept "$name" env -C "$caller" -u VARNOCK_TRY_WINEPREFIX XDG_CACHE_HOME="$BATS_TEST_TMPDIR/cache" \
    "$source/scripts/try" "$@"
  usage=$BATS_TEST_TMPDIR/$name.out other=$BATS_TEST_TMPDIR/$name.log
  [ "$stream" = stdout ] || { usage=$other other=$BATS_TEST_TMPDIR/$name.out; }
  [ "$exit_status" = "$expected_status" ] || fail "try $*: status $exit_status, expected $expected_status"
  [ "$(head -n 1 "$usage")" = "usage: scripts/try [VERB PATH]" ] || fail "try $*: no usage on $stream"
  [ ! -s "$other" ] || fail "try $*: more than the usage was written"
  [ "$expected_status" = 0 ] || [ "$(tail -n 1 "$usage")" = "try: wrong arguments: $*" ] ||
    fail "try $*: no line that says the arguments are wrong"
  [ ! -e "$BATS_TEST_TMPDIR/cache" ] || fail "try $*: it went on to the Wine prefix"
}

@test "--help and -h: the usage on stdout, status 0, nothing built" {
  usage_case 0 stdout --help
  usage_case 0 stdout -h
}

@test "one argument or three: the usage on stderr, status 125, nothing built" {
  usage_case 125 stderr load
  usage_case 125 stderr load examples/away.mrc more
}

# A relative TMPDIR is refused even where it names a folder.
@test "a TMPDIR that cannot hold files: one line naming it, status 125, nothing installed or built" {
  machine_without_ninja
  local tmpdir n=0
  for tmpdir in "$BATS_TEST_TMPDIR/missing" "my dir" /proc; do
    run_kept "try_tmpdir_$((++n))" env -C "$caller" PATH="$without_ninja_path" TMPDIR="$tmpdir" \
      XDG_CACHE_HOME="$BATS_TEST_TMPDIR/cache" "$source/scripts/try"
    [ "$exit_status" = 125 ] || fail "TMPDIR=$tmpdir: status $exit_status, not 125"
    [ "$(cat "$log")" = "try: cannot make a folder in $tmpdir: TMPDIR (or /tmp, where TMPDIR is unset) must be an absolute path to a folder you can write to" ] ||
      fail "TMPDIR=$tmpdir: not the one line that names it"
    [ -z "$out" ] || fail "TMPDIR=$tmpdir: it wrote to its standard output"
  done
}

@test "the loader's status passes through: 1 and its Bad Command for a verb it refuses" {
  run_kept try_refused env -C "$caller" VARNOCK_TRY_WINEPREFIX="$WINEPREFIX" "$source/scripts/try" Load 'C:\x.mrc'
  if [ "$exit_status" != 1 ] || ! grep -qx 'Error - Bad Command' <<<"$out"; then
    not_delivered "try Load 'C:\x.mrc', expecting the loader's status 1 and its 'Error - Bad Command'"
  fi
}

# path_case TYPED EXPECTED: try load TYPED, run from the caller's folder,
# delivers, and the client receives EXPECTED as the path.
path_case() {
  run_kept "try_load_$((++cases))" env -C "$caller" VARNOCK_TRY_WINEPREFIX="$WINEPREFIX" \
    "$source/scripts/try" load "$1"
  if [ "$exit_status" != 0 ] || [ "$(received_path)" != "$2" ]; then
    not_delivered "try load '$1' from $caller, expecting '$2'"
  fi
}

@test "a relative PATH to an existing file is the caller's, in its Z: form" {
  path_case "my dir/a b.mrc" "$(windows_path "$caller/my dir/a b.mrc")"
  path_case examples/away.mrc "$(windows_path "$caller/examples/away.mrc")"
  path_case ../other/c.mrc "$(windows_path "$other/c.mrc")"
}

@test "an absolute PATH to an existing file reaches the loader in its Z: form" {
  path_case "$other/c.mrc" "$(windows_path "$other/c.mrc")"
}

@test "any other PATH reaches the loader exactly as typed" {
  path_case 'C:\scripts\away.mrc' 'C:\scripts\away.mrc'
  path_case missing/away.mrc missing/away.mrc
}

# Where Wine would keep its server's folder there and abort on it (Debian
# 13's), try keeps TMPDIR from Wine, and its own files there go.
@test "with TMPDIR set, try delivers and leaves nothing in TMPDIR" {
  mkdir "$BATS_TEST_TMPDIR/tmp"
  run_kept try_with_tmpdir env -C "$caller" TMPDIR="$BATS_TEST_TMPDIR/tmp" \
    VARNOCK_TRY_WINEPREFIX="$WINEPREFIX" "$source/scripts/try" load 'C:\scripts\away.mrc'
  if [ "$exit_status" != 0 ] || [ "$(received_path)" != 'C:\scripts\away.mrc' ]; then
    not_delivered "try with TMPDIR set"
  fi
  assert_equal "$(ls -A "$BATS_TEST_TMPDIR/tmp")" ""
}
