#!/usr/bin/env bats
# scripts/check-style in a throwaway repository that holds it and the
# project's settings of clang-format and shellcheck, with the files a case
# adds: it checks every tracked file whatever its name, and names each one it
# cannot read.

# shellcheck source=release_helpers.bash
source "$BATS_TEST_DIRNAME/release_helpers.bash"

setup() {
  # In /tmp, where the user nobody reaches it.
  repository=$(mktemp -d /tmp/varnock-check-style.XXXXXX)
  chmod 755 "$repository"
  mkdir "$repository/scripts" "$repository/front_end"
  cp "$source/scripts/check-style" "$repository/scripts/"
  cp "$source/.clang-format" "$source/.shellcheckrc" "$repository/"
  git init -q "$repository"
}

teardown() {
  rm -rf "$repository"
}

# tracked FILE CONTENT: FILE in the repository, holding CONTENT, added to
# git's index.
tracked() {
  mkdir -p "$repository/$(dirname "$1")"
  printf '%s\n' "$2" >"$repository/$1"
  git -C "$repository" add -- "$1"
}

@test "a tracked file whose name git quotes is checked" {
  # Each name is one that git ls-files prints quoted and escaped.
  local names=('front_end/é.cpp' 'front_end/say "hi".cpp' 'front_end/back\slash.h')
  for name in "${names[@]}"; do
    tracked "$name" 'int  f( ){return 1;}'
  done
  tracked 'scripts/dé.sh' $'#!/usr/bin/env bash\necho $1'
  run --separate-stderr "$repository/scripts/check-style"
  [[ $output != *"format check skipped"* && $output != *"shell check skipped"* ]] ||
    skip "the checks need Debian 12's clang-format and shellcheck: $output"
  assert_equal "$status" 1
  for name in "${names[@]}"; do
    [[ $stderr == *"check-style: $name is not formatted"* ]] || fail "$name not reported as unformatted: $stderr"
  done
  [[ $stderr == *"In scripts/dé.sh line 2:"* ]] || fail "shellcheck's finding in scripts/dé.sh not reported: $stderr"
  assert_line "check-style: 3 C++ files checked with clang-format 14, 3 not formatted"
  assert_line "check-style: 2 shell scripts checked with shellcheck 0.9.0"
}

@test "a tracked file that cannot be read is named" {
  local names=(front_end/locked.cpp scripts/locked tests/gone.sh)
  tracked front_end/locked.cpp 'int f() { return 1; }'
  tracked scripts/locked $'#!/usr/bin/env bash\necho "$1"'
  chmod 000 "$repository/front_end/locked.cpp" "$repository/scripts/locked"
  mkdir "$repository/tests"
  ln -s nowhere "$repository/tests/gone.sh"
  git -C "$repository" add tests/gone.sh
  # As root, the locked files would be read all the same.
  [ "$(id -u)" -ne 0 ] || chown -R 65534:65534 "$repository"
  run --separate-stderr as_other_user "$repository/scripts/check-style"
  assert_equal "$status" 1
  for name in "${names[@]}"; do
    [[ $stderr == *"check-style: cannot read $name,"* ]] || fail "$name not named as unreadable: $stderr"
  done
}
