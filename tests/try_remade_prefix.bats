#!/usr/bin/env bats
# scripts/try with its Wine prefix kept from an earlier run, in a cache of
# the test's own, in the states that make the next try make it again. Each
# test starts from a copy of one prefix (from_kept_prefix).

# shellcheck disable=SC2154  # set by try_helpers.bash, which shellcheck does not follow through load
load try_helpers
# shellcheck disable=SC2034  # read by the hooks in try_helpers.bash
from_kept_prefix=1

@test "a prefix whose making was cut short is made again" {
  rm "$prefix/.varnock-prefix-made"
  try_delivers "try: making the Wine prefix" "does not work"
}

# Without the registry's user half, the headless display's setting with it,
# Wine still starts, but makes no window. (A prefix without its Windows files
# goes the same way: Wine cannot start the stand-in client there.)
@test "a prefix in which the stand-in client cannot make its window is made again" {
  rm "$prefix/user.reg"
  try_delivers "does not work: the stand-in client cannot make its window there"
}
