#!/usr/bin/env bash
# reproducible_build.sh SOURCE PRESET WORK
# Builds the program and its zip twice from scratch with the settings of the
# configure preset PRESET (its tests left out), in two build trees of
# different paths and in two time zones a day apart, and fails unless both
# builds give the same bytes. Run as root, it builds the second tree as
# another user (nobody), from a copy of the sources elsewhere, with the
# commit's date given as SOURCE_DATE_EPOCH where the first tree takes it
# from git. Run as anyone, it also fails if an entry of the zip records an
# owner other than 0 (the uid/gid extra fields), which a second build by the
# same user could not show.
# Then, in a throwaway repository holding a copy of the sources: a tree
# configured at one commit, built and packaged again after the next commit,
# must give the zip of a tree configured at that next commit (cpack reads
# the date when it runs); and cpack must refuse, writing no zip, a
# SOURCE_DATE_EPOCH that a zip entry cannot hold, and the date of another
# repository around the sources when they are not a repository of their own;
# and the last date a zip entry holds must be the date of every entry.
set -euo pipefail
source=$1 preset=$2 work=$3
source "$source/cmake/packaging.sh"
rm -rf "$work"
mkdir -p "$work"
first=$work/first second=$work/the-second-build
as_builder=()
other_user=
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  as_builder=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  other_user=$(mktemp -d /tmp/varnock-other-user.XXXXXX)
  chmod 755 "$other_user"
  trap 'rm -rf "$other_user"' EXIT
  # Where the other user can read the sources and write the build tree
  # whatever the permissions of the folders above SOURCE and WORK.
  mkdir "$other_user/source" "$other_user/home" "$other_user/tree"
  tar -C "$source" --exclude=./build --exclude=./.git -cf - . | tar -C "$other_user/source" -xf -
  chmod -R a+rX "$other_user/source"
  chown 65534:65534 "$other_user/home" "$other_user/tree"
  second=$other_user/tree/the-second-build
fi

build() {  # build SOURCE TREE [COMMAND PREFIX...]
  local from=$1 tree=$2
  shift 2
  # The preset's generator, toolchain and build type, without the tests nor
  # CMake's warning that what only they take (the windows-x86 preset's
  # VARNOCK_64BIT_BUILD) went unused.
  "$@" cmake -S "$from" -B "$tree" --preset "$preset" -DVARNOCK_TESTS=OFF --no-warn-unused-cli >/dev/null
  "$@" cmake --build "$tree" --target varnock >/dev/null
  (cd "$tree" && "$@" cpack >/dev/null)
}
# POSIX time zones, 14 hours east and 10 hours west of UTC, so that they
# need no tzdata: a zip dated in local time has another day in each.
build "$source" "$first" env TZ='<+14>-14'
sleep 1  # a build that stamps the time would now differ
if [ -n "$other_user" ]; then
  # The date that cpack gave the first tree's zip.
  epoch=$(cmake -DVARNOCK_SOURCE_DIR="$source" -P "$source/cmake/zip_date.cmake")
  build "$other_user/source" "$second" env TZ='<-10>10' HOME="$other_user/home" SOURCE_DATE_EPOCH="$epoch" \
        "${as_builder[@]}"
  echo "second build made by uid 65534 from $other_user/source, 24 hours behind the first's time zone"
else
  build "$source" "$second" env TZ='<-10>10'
  echo "second build made 24 hours behind the first's time zone"
fi

status=0
zip=$(cpack_setting "$first" CPACK_PACKAGE_FILE_NAME).zip
for artefact in varnock.exe "$zip"; do
  if cmp "$first/$artefact" "$second/$artefact"; then
    echo "same bytes: $artefact"
  else
    echo "two builds differ: $artefact"
    status=1
  fi
done

# And no owner other than 0 in any entry.
python3 "$(dirname "$0")/zip_entries.py" owners "$first/$zip" || status=1

repository=$work/outer/varnock
before=$work/configured-before-the-commit after=$work/configured-after-the-commit
git_here() {  # git_here FOLDER DATE COMMIT-ARGUMENTS...
  local folder=$1 date="@$2 +0000"
  shift 2
  GIT_AUTHOR_DATE=$date GIT_COMMITTER_DATE=$date git -C "$folder" -c user.name=varnock-test \
    -c user.email=test@example.com -c commit.gpgsign=false commit -q "$@"
}
git init -q "$work/outer"
git_here "$work/outer" 981158400 --allow-empty -m "another project around the sources"
mkdir "$repository"
tar -C "$source" --exclude=./build --exclude=./.git -cf - . | tar -C "$repository" -xf -
git init -q "$repository"
git -C "$repository" add -A
git_here "$repository" 1600000000 -m "a commit"
build "$repository" "$before" env -u SOURCE_DATE_EPOCH
echo "A line of the next commit." >>"$repository/README.md"
git -C "$repository" add -A
git_here "$repository" 1700000000 -m "the next commit"
env -u SOURCE_DATE_EPOCH cmake --build "$before" --target varnock >/dev/null
(cd "$before" && env -u SOURCE_DATE_EPOCH cpack >/dev/null)
build "$repository" "$after" env -u SOURCE_DATE_EPOCH
if cmp "$before/$zip" "$after/$zip"; then
  echo "same bytes: $zip packaged after a new commit without configuring again, and configured afresh"
else
  echo "$zip packaged after a new commit without configuring again differs from one configured afresh"
  status=1
fi

refuses() {  # refuses MESSAGE SOURCE_DATE_EPOCH
  local output date=(-u SOURCE_DATE_EPOCH)
  [ -z "$2" ] || date=(SOURCE_DATE_EPOCH="$2")
  rm -f "$after/$zip"
  if output=$(cd "$after" && env "${date[@]}" cpack 2>&1) ||
     [ -e "$after/$zip" ] || ! grep -qF -- "$1" <<<"${output//$'\n  '/ }"; then
    echo "cpack with SOURCE_DATE_EPOCH '$2' in $repository: did not refuse with \"$1\", writing no zip:"
    printf '%s\n' "$output"
    status=1
  else
    echo "cpack with SOURCE_DATE_EPOCH '$2' refused: $1"
  fi
}
for epoch in 0 315000000 4294967296 99999999999; do
  refuses "a time that a zip entry cannot hold as given" "$epoch"
done
# The last date that a zip entry holds whole, on every entry.
rm -f "$after/$zip"
(cd "$after" && SOURCE_DATE_EPOCH=4294967295 cpack >/dev/null) || echo "cpack with SOURCE_DATE_EPOCH 4294967295 failed"
python3 "$(dirname "$0")/zip_entries.py" last-date "$after/$zip" || status=1
mv "$repository/.git" "$work/varnock.git"
refuses "another repository's, not this source tree" ""

rm -rf "$work"
exit $status
