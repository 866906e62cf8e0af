#!/usr/bin/env bats
# scripts/make-release refuses what it must, with status 2 and its own
# message, before it builds or writes anything. It runs from a copy of the
# sources, a repository of its own with no build tree, so that whatever it
# would build shows in the copy, and the builds of the project's own trees,
# and their tests, can run beside it.

# shellcheck source=release_helpers.bash
source "$BATS_TEST_DIRNAME/release_helpers.bash"

work=$BATS_FILE_TMPDIR
copy=$work/varnock
make_release=$copy/scripts/make-release
repository=test-owner/test-repo
usage_line="usage: scripts/make-release OUT_DIR OWNER/REPO [TAG]"
new_dir=$work/new
# The version that CMake read (ctest gives it), else that of the zips of
# the windows-x64 tree.
version=${VARNOCK_VERSION:-$(cpack_setting "$source/build/windows-x64" CPACK_PACKAGE_VERSION 2>/dev/null || true)}
tag=v$version

setup_file() {
  [ -n "$version" ] || fail "no version: give it as VARNOCK_VERSION, or run the windows-x64 workflow first"
  copy_sources "$copy"
  git init -q "$copy"
  git -C "$copy" add -A
  commit_at "$copy" 1600000000 -m "the sources"
  mkdir "$work/a-file-here"
  echo "the user's own" >"$work/a-file-here/SHA256SUMS"
  ln -s "$copy/build" "$work/link-to-build"
  # The sources as an export gives them, without .git; and the same inside
  # an unrelated repository, whose last commit is of 2001-02-03.
  copy_sources "$work/exported"
  git init -q "$work/outer"
  commit_at "$work/outer" 981158400 --allow-empty -m "another project"
  cp -a "$work/exported" "$work/outer/vendored-varnock"
  # An empty folder that cannot be written: immutable as root, who may write
  # in any folder, else read-only.
  mkdir "$work/locked"
  if [ "$(id -u)" -eq 0 ]; then
    chattr +i "$work/locked" || fail "chattr +i does not work on $work's file system"
  else
    chmod 555 "$work/locked"
  fi
}

teardown_file() {
  chattr -i "$work/locked" 2>/dev/null || chmod 755 "$work/locked"
}

# The work folder, the copy's build/ among it: each file with its type,
# size and time.
snapshot() {
  find "$work" -printf '%p %y %s %T@\n' | sort
}

setup() {
  # Where a relative OUT_DIR would be made, so that the snapshot sees it.
  cd "$work" || return
  before=$(snapshot)
}

# run_changing_nothing COMMAND...: runs COMMAND, setting status, output and
# stderr, and fails the test if the work folder changed.
run_changing_nothing() {
  status=0
  "$@" >"$BATS_TEST_TMPDIR/output" 2>"$BATS_TEST_TMPDIR/stderr" || status=$?
  output=$(<"$BATS_TEST_TMPDIR/output") stderr=$(<"$BATS_TEST_TMPDIR/stderr")
  [ "$(snapshot)" = "$before" ] || fail "built or wrote files for: $*"
}

# refused MESSAGE COMMAND...: COMMAND exits with 2, saying on standard error
# only one line, make-release's own, holding MESSAGE, and changes nothing.
refused() {
  local message=$1
  shift
  run_changing_nothing "$@"
  [ "$status" -eq 2 ] || fail "exited with $status, not 2, for: $*: $stderr"
  [[ -z $output && $stderr != *$'\n'* && $stderr == "make-release: "*"$message"* ]] ||
    fail "for: $*, said: $output$stderr; expected only: make-release: ...$message..."
}

# refused_with_usage FIRST-LINE COMMAND...: COMMAND exits with 2, saying on
# standard error FIRST-LINE (when not empty) and then the usage, and
# changes nothing.
refused_with_usage() {
  local first=$1
  shift
  run_changing_nothing "$@"
  [ "$status" -eq 2 ] || fail "exited with $status, not 2, for: $*: $stderr"
  local expected=${first:+$first$'\n'}$usage_line$'\n'
  [[ -z $output && $stderr == "$expected"* ]] ||
    fail "for: $*, said: $output$stderr; expected on standard error: $expected..."
}

@test "-h and --help print the usage on standard output, with status 0, building nothing" {
  local row
  for row in -h --help "-h $repository" "new $repository --help"; do
    # shellcheck disable=SC2086 # each row is words
    run_changing_nothing "$make_release" $row
    [ "$status" -eq 0 ] || fail "exited with $status for: $row: $stderr"
    [[ $output == "$usage_line"$'\n'* && -z $stderr ]] ||
      fail "for: $row, printed: $output; on standard error: $stderr"
  done
}

@test "any other word that begins with - is refused with the usage" {
  local word
  for word in -x --version -help; do
    refused_with_usage "make-release: '$word' is not an option" "$make_release" "$word"
  done
  refused_with_usage "make-release: '-x/y' is not an option" "$make_release" "$new_dir" -x/y
  refused_with_usage "make-release: '--tag=$tag' is not an option" \
    "$make_release" "$new_dir" "$repository" "--tag=$tag"
}

@test "a wrong number of arguments, or an empty OUT_DIR, is refused with the usage" {
  refused_with_usage "" "$make_release"
  refused_with_usage "" "$make_release" "$new_dir"
  refused_with_usage "" "$make_release" "" "$repository"
  refused_with_usage "" "$make_release" "$new_dir" "$repository" "$tag" extra
}

@test "a TAG other than vVERSION is refused" {
  local wrong
  for wrong in "$version" "V$version" "$tag-rc1" "$tag.1" "v${version%.*}" ""; do
    refused "must be $tag" "$make_release" "$new_dir" "$repository" "$wrong"
  done
}

@test "an OWNER/REPO that GitHub would not take is refused" {
  local long_owner long_name wrong
  long_owner=$(printf 'o%.0s' {1..40}) long_name=$(printf 'r%.0s' {1..101})
  refused "is not OWNER/REPO" "$make_release" "$new_dir" test-owner
  for wrong in /test-repo ../.. ./. _/.. a-/b a--b/c "$long_owner/r" $'t\xc3\xa9st/r'; do
    refused "cannot be a GitHub owner" "$make_release" "$new_dir" "$wrong"
  done
  for wrong in a/.. a/. test-owner/ a/b/c "a/b c" $'a/r\xc3\xa9po' "a/$long_name"; do
    refused "cannot be a GitHub repository's name" "$make_release" "$new_dir" "$wrong"
  done
  # Names GitHub takes get past those checks, to the used OUT_DIR's refusal.
  local right
  for right in a/b A-1-b/.x_y-z a/... "${long_owner%o}/${long_name%r}"; do
    refused "already holds files" "$make_release" "$work/a-file-here" "$right"
  done
}

@test "an OUT_DIR that holds files, is a file, or lies in build/ is refused" {
  refused "already holds files" "$make_release" "$work/a-file-here" "$repository"
  refused "exists and is not a folder" "$make_release" "$work/a-file-here/SHA256SUMS" "$repository"
  local inside
  for inside in "$copy/build" "$copy/build/release" "$copy/build/../build/windows-x64/release" \
                "$work/link-to-build/release"; do
    refused "lies in the source tree's build/" "$make_release" "$inside" "$repository"
  done
}

@test "an OUT_DIR that cannot be created or written is refused" {
  local folder
  for folder in "$work/a-file-here/SHA256SUMS/release" "$work/locked" "$work/locked/release"; do
    refused "OUT_DIR '$folder' cannot be written" env -u SOURCE_DATE_EPOCH "$make_release" "$folder" "$repository"
  done
}

@test "a commit without a date of its own is refused" {
  refused "git cannot tell this commit's date" \
    env -u SOURCE_DATE_EPOCH "$work/exported/scripts/make-release" "$new_dir" "$repository"
  refused "another repository's, not this source tree" \
    env -u SOURCE_DATE_EPOCH "$work/outer/vendored-varnock/scripts/make-release" "$new_dir" "$repository"
}

@test "a date that a zip entry cannot hold is refused, and the first and last it holds are taken" {
  refused "is not a number of seconds" env SOURCE_DATE_EPOCH=yesterday "$make_release" "$new_dir" "$repository"
  # 0, which CMake takes for false; the second before 1980-01-01 12:01:00
  # UTC, and the one after 2106-02-07 06:28:15 UTC (2^32 - 1, past which a
  # zip entry's extended timestamp wraps, though its DOS date goes on to
  # 2107); and 2^64 + 1700000000, which 64-bit arithmetic would take for 2023.
  local epoch
  for epoch in 0 315576059 4294967296 18446744075409551616; do
    refused "a time that a zip entry cannot hold as given" \
      env SOURCE_DATE_EPOCH="$epoch" "$make_release" "$new_dir" "$repository"
  done
  # The first and last dates a zip holds, and git's (SOURCE_DATE_EPOCH
  # empty), get past the date's checks to OUT_DIR's.
  local folder=$work/a-file-here/SHA256SUMS/release
  for epoch in "" 315576060 4294967295; do
    refused "OUT_DIR '$folder' cannot be written" env SOURCE_DATE_EPOCH="$epoch" "$make_release" "$folder" "$repository"
  done
}
