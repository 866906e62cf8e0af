#!/usr/bin/env bats
# scripts/try's first run, which makes its own Wine prefix, kept in a cache
# of the test's own, stopped by Ctrl+C at its steps.

# shellcheck disable=SC2154  # set by try_helpers.bash, which shellcheck does not follow through load
load try_helpers

# Stopped before its prefix was made to the end, try leaves no prefix and
# nothing in its temporary folder; stopped once it was (a slow Ctrl+C), the
# prefix stays.
first_try_stopped() {
  stop_try "$@"
  if [ ! -e "$prefix/.varnock-prefix-made" ]; then
    [ ! -e "$prefix" ] || fail "Ctrl+C ($1) $3 s after '$2': it left the unfinished prefix"
  fi
  assert_equal "$(ls -A "$try_tmpdir")" ""
  stop_own_prefix
}

# Typed, the terminal's hangup ends what try's process group still runs once
# try has ended; sent, SIGINT alone ends install-deps and its apt-get.
@test "Ctrl+C while install-deps installs a missing package stops try" {
  machine_without_ninja
  first_try_stopped typed '^install-deps: downloading' 2 "$without_ninja_path"
  first_try_stopped signal '^install-deps: downloading' 2 "$without_ninja_path"
}

@test "SIGINT while try builds stops it" {
  first_try_stopped signal '^try: building' 0
}

# Early, while wineboot sets the prefix up, and late, when its last steps
# run; typed and sent take one road in try, each is tried once.
@test "Ctrl+C while the prefix is made stops try and removes the unfinished prefix" {
  first_try_stopped signal '^try: making the Wine prefix' 1
  first_try_stopped typed '^try: making the Wine prefix' 8
}
