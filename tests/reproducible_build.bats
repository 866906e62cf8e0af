#!/usr/bin/env bats
# varnock.exe and its zip depend on the commit and the toolchain alone. The
# program is built from scratch with the settings of the tree's configure
# preset (its tests left out), in a throwaway repository holding a copy of
# the sources: in another folder, in a time zone 24 hours behind the one the
# tree's zip is made in, as another user (nobody) when run as root, and
# configured at one commit but packaged after the next, whose date is the
# last that a zip entry holds; the tree's zip is made with that date given
# as SOURCE_DATE_EPOCH. Both must have the same bytes. cpack must also
# refuse, writing no zip, a date that a zip entry cannot hold, and the date
# of another repository around the sources when they are not a repository
# of their own.
#
# VARNOCK_TREE names the built tree (ctest gives its own), VARNOCK_PRESET
# its configure preset (by default, windows-x64's).

# shellcheck source=release_helpers.bash
source "$BATS_TEST_DIRNAME/release_helpers.bash"

preset=${VARNOCK_PRESET:-windows-x64}
tree=${VARNOCK_TREE:-$source/build/$preset}
# The last date that a zip entry holds whole (2^32 - 1).
last_date=4294967295
# POSIX time zones, 14 hours east and 10 hours west of UTC, so that they
# need no tzdata: a zip dated in local time has another day in each.
east='<+14>-14' west='<-10>10'
# The throwaway repository's commits, by whoever builds from scratch (the
# user nobody, when root runs the test), who owns it: git works only in a
# repository of its user's.
as_committer=(as_other_user)

# quietly WHAT COMMAND...: says WHAT it does (a step takes up to 10 s) and
# runs COMMAND, its output kept back unless it fails.
quietly() {
  local what=$1 log
  shift
  echo "# $what" >&3
  log=$("$@" 2>&1) || fail "$what failed: $*"$'\n'"$log"
}

setup_file() {
  [ -e "$tree/CPackConfig.cmake" ] || fail "$tree is not a configured tree: build it first"
  # In /tmp, where the user nobody reaches it.
  work=$(mktemp -d /tmp/varnock-reproducible-build.XXXXXX)
  chmod 755 "$work"
  export work repository=$work/outer/varnock scratch=$work/the-build-from-scratch
  export zip
  zip=$(cpack_setting "$tree" CPACK_PACKAGE_FILE_NAME).zip
  copy_sources "$repository"
  mkdir "$scratch"
  [ "$(id -u)" -ne 0 ] || chown -R 65534:65534 "$work/outer" "$scratch"
  as_other_user git init -q "$work/outer"
  commit_at "$work/outer" 981158400 --allow-empty -m "another project around the sources"
  as_other_user git init -q "$repository"
  as_other_user git -C "$repository" add -A
  commit_at "$repository" 1600000000 -m "a commit"
  quietly "configuring a tree from scratch" as_other_user env -u SOURCE_DATE_EPOCH TZ="$west" \
    cmake -S "$repository" -B "$scratch" --preset "$preset" -DVARNOCK_TESTS=OFF --no-warn-unused-cli
  quietly "building varnock.exe in it" as_other_user env -u SOURCE_DATE_EPOCH TZ="$west" cmake --build "$scratch" --target varnock
  commit_at "$repository" "$last_date" --allow-empty -m "the next commit"
  cd "$scratch" || return
  quietly "packaging it after the next commit" as_other_user env -u SOURCE_DATE_EPOCH TZ="$west" cpack
  quietly "packaging the tree under test" env SOURCE_DATE_EPOCH="$last_date" TZ="$east" \
    cpack --config "$tree/CPackConfig.cmake" -B "$work/tree-zip"
}

teardown_file() {
  rm -rf "$work"
}

# refuses MESSAGE TREE COMMAND-PREFIX...: cpack of TREE, run through
# COMMAND-PREFIX, fails with MESSAGE and writes no zip.
refuses() {
  local message=$1 from=$2 folder=$work/refused-$BATS_TEST_NUMBER
  shift 2
  mkdir "$folder"
  [ "$(id -u)" -ne 0 ] || chown 65534:65534 "$folder"
  run "$@" cpack --config "$from/CPackConfig.cmake" -B "$folder"
  assert_failure
  # CMake wraps its messages, each line after the first indented.
  [[ ${output//$'\n'  / } == *"$message"* ]] || fail "cpack did not say \"$message\": $output"
  [ ! -e "$folder/$zip" ] || fail "cpack wrote $folder/$zip"
}

@test "varnock.exe built from scratch elsewhere is the tree's very bytes" {
  cmp "$tree/varnock.exe" "$scratch/varnock.exe"
}

@test "the zip is the same whoever makes it, in any time zone, in a tree configured at an older commit" {
  cmp "$work/tree-zip/$zip" "$scratch/$zip"
}

@test "no entry of the zip records an owner other than 0" {
  run python3 "$BATS_TEST_DIRNAME/zip_entries.py" owners "$scratch/$zip"
  assert_success
}

@test "every entry bears the last date a zip entry holds, given as SOURCE_DATE_EPOCH" {
  run python3 "$BATS_TEST_DIRNAME/zip_entries.py" last-date "$work/tree-zip/$zip"
  assert_success
}

@test "cpack refuses a date that a zip entry cannot hold" {
  refuses "a time that a zip entry cannot hold as given" "$tree" env SOURCE_DATE_EPOCH=$((last_date + 1))
}

@test "cpack refuses the date of another repository around the sources" {
  mv "$repository/.git" "$work/varnock.git"
  refuses "another repository's, not this source tree" "$scratch" as_other_user env -u SOURCE_DATE_EPOCH
  mv "$work/varnock.git" "$repository/.git"
}
