#!/usr/bin/env bats
# scripts/try with its Wine prefix kept from an earlier run, in a cache of
# the test's own: stopped by Ctrl+C while the stand-in client starts, taken
# as it is, waited for while another try holds it, and stopped then, removed
# by try --remove-prefix, and two trys at once on a machine without one of
# its packages. Each test starts from a copy of one prefix (from_kept_prefix).

# shellcheck disable=SC2154  # set by try_helpers.bash, which shellcheck does not follow through load
load try_helpers
# shellcheck disable=SC2034  # read by the hooks in try_helpers.bash
from_kept_prefix=1

# With its wineserver ended, Wine takes a second or two to start the
# client: long enough to be stopped in. The prefix stays.
@test "Ctrl+C while the stand-in client starts stops try and keeps the prefix" {
  local how
  for how in signal typed; do
    WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
    WINEPREFIX=$prefix "$wineserver" -w
    stop_try "$how" '^try: starting the stand-in client' 0.3
    [ -e "$prefix/.varnock-prefix-made" ] || fail "Ctrl+C ($how): the kept prefix is gone"
  done
}

@test "a kept prefix is taken as it is" {
  try_delivers "" "making the Wine prefix"
}

# another_try_holds_prefix UNTIL: holds the prefix's lock, as another try
# would, until a line of what the test's commands wrote matches UNTIL (two
# minutes at most; bats does not wait for it).
another_try_holds_prefix() {
  (flock "$XDG_CACHE_HOME/varnock/wine-prefix.lock" sh -c ": >'$BATS_TEST_TMPDIR/held'
    for _ in \$(seq 1200); do grep -qs '$1' '$BATS_TEST_TMPDIR'/*.log && break; sleep 0.1; done" 3>&- &)
  while [ ! -e "$BATS_TEST_TMPDIR/held" ]; do sleep 0.1; done
}

@test "try waits for another try that holds the prefix" {
  another_try_holds_prefix 'try: waiting for another try'
  try_delivers "try: waiting for another try" "making the Wine prefix"
}

# The other try holds on: try stops in the middle of a step that does not
# end by itself (once it has said that it still waits), and ends it.
@test "Ctrl+C while try waits for another try that holds the prefix stops it" {
  another_try_holds_prefix 'the other try lets go'
  stop_try signal '\(still waiting for the other try' 0
  echo 'the other try lets go' >"$BATS_TEST_TMPDIR/other.log"
}

# As a try leaves it: its wineserver up, with its folder in /tmp.
@test "try --remove-prefix removes the prefix, what its Wine keeps in /tmp, and the cache folder" {
  WINEPREFIX=$prefix "$wineserver" -p600
  local server_folder
  server_folder=server-$(stat -c %D "$prefix")-$(printf '%x' "$(stat -c %i "$prefix")")
  run_kept remove env TMPDIR="$try_tmpdir" "$source/scripts/try" --remove-prefix
  assert_equal "$exit_status" 0
  [ ! -e "$XDG_CACHE_HOME/varnock" ] || fail "$XDG_CACHE_HOME/varnock is still there"
  [ -z "$(find /tmp -maxdepth 2 -name "$server_folder" -user "$(id -u)")" ] ||
    fail "it left $(find /tmp -maxdepth 2 -name "$server_folder")"
  assert_equal "$(ls -A "$try_tmpdir")" ""
  [ -z "$(running_with "WINEPREFIX=$prefix")" ] || fail "Wine left running: $(running_with "WINEPREFIX=$prefix")"
}

# apt-get does not overlap two updates or two installs (machine_without_ninja):
# both deliver only if the two install-deps take turns.
@test "two trys at once without a package: one installs it, the other waits, both deliver" {
  machine_without_ninja
  local n
  for n in 1 2; do
    run_kept "try_$n" env PATH="$without_ninja_path" "${try[@]}" &
  done
  wait
  for n in 1 2; do
    [ "$(cat "$BATS_TEST_TMPDIR/try_$n.status")" = 0 ] ||
      fail "try $n: status $(cat "$BATS_TEST_TMPDIR/try_$n.status")"
    grep -qxF "$delivered" "$BATS_TEST_TMPDIR/try_$n.out" || fail "try $n: the client did not receive the command"
  done
  local waited
  waited=$(cat "$BATS_TEST_TMPDIR"/try_[12].log | grep -c '^  Waiting for cache lock' || true)
  [ "$waited" = 1 ] || fail "the install-deps said $waited times that apt-get waits for another, not once"
  grep -h -A1 '^  Waiting for cache lock' "$BATS_TEST_TMPDIR"/try_[12].log | grep -q '^  (still installing the packages' ||
    fail "the install-deps that waited did not say so, then that it still waits"
}
