# shellcheck shell=bash
# What the bats tests of the release's scripts and of check-style share:
# where the project is, and throwaway copies of it and repositories around
# them.
#
# VARNOCK_SOURCE_DIR names the project (by default, the folder above this
# file's).
load /usr/lib/bats/bats-support/load
load /usr/lib/bats/bats-assert/load
bats_require_minimum_version 1.5.0

source=${VARNOCK_SOURCE_DIR:-$(cd "$BATS_TEST_DIRNAME/.." && pwd)}
source "$source/cmake/packaging.sh"
# run --separate-stderr sets it; shellcheck knows only what a plain run sets.
# shellcheck disable=SC2034 # read by the tests
stderr=''

# copy_sources FOLDER: the project's files as an export gives them, without
# .git and the build trees, into FOLDER.
copy_sources() {
  mkdir -p -- "$1"
  tar -C "$source" --exclude=./build --exclude=./.git -cf - . | tar -C "$1" -xf -
}

# commit_at FOLDER SECONDS GIT-COMMIT-ARGUMENT...: a commit in the
# repository FOLDER dated SECONDS since 1970 (UTC), by a test's identity,
# made by git run through the command prefix as_committer (as another user).
as_committer=()
commit_at() {
  local folder=$1 date="@$2 +0000"
  shift 2
  GIT_AUTHOR_DATE=$date GIT_COMMITTER_DATE=$date ${as_committer[@]+"${as_committer[@]}"} \
    git -C "$folder" -c user.name=varnock-test -c user.email=test@example.com -c commit.gpgsign=false \
    commit -q "$@"
}

# as_other_user COMMAND...: runs COMMAND as the user nobody, with no home
# folder, when the test runs as root (who may read any file, and whose
# builds record no other owner than 0), else as the caller.
as_other_user() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/nonexistent "$@"
  else
    "$@"
  fi
}
