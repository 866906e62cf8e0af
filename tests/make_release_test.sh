#!/usr/bin/env bash
# make_release_test.sh: runs scripts/make-release for a test repository,
# without a TAG and with the right one, and checks what must hold on any
# machine: the TAG changes none of the files, SHA256SUMS checks out and
# names both zips (as cpack named them), the Scoop and winget manifests
# carry the zips' own hashes and URLs that name the tag; and refuses, with
# nothing built or written, a TAG that is not vVERSION, an OWNER/REPO that
# GitHub would not take, an OUT_DIR that holds files, lies in build/ or
# cannot be written, a tree without .git or inside another repository given
# no SOURCE_DATE_EPOCH, and a SOURCE_DATE_EPOCH that a zip entry cannot
# hold.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/cmake/packaging.sh"
work=$(mktemp -d /tmp/varnock-make-release.XXXXXX)
trap 'chattr -i "$work/immutable" 2>/dev/null || true; rm -rf "$work"' EXIT
failures=0
fail() { echo "make-release: $*" >&2; failures=$((failures + 1)); }

# make-release for the test repository, which must succeed.
released() {  # released OUT_DIR [TAG]
  local status=0
  "$top/scripts/make-release" "$1" test-owner/test-repo "${@:2}" 2>"$work/log" || status=$?
  if [ "$status" != 0 ]; then
    cat "$work/log" >&2
    echo "make-release: exited with $status${2:+ for the tag $2}" >&2
    exit 1
  fi
}
# First as before tagging, without a TAG; then with the tag of the version
# that cpack gave the zips, which must change none of the files.
untagged=$work/untagged out=$work/release
released "$untagged"
version=$(cpack_setting "$top/build/windows-x64" CPACK_PACKAGE_VERSION)
tag=v$version
released "$out" "$tag"
diff -r "$untagged" "$out" >&2 || fail "the tag $tag changed what make-release wrote"
(cd "$out" && sha256sum --check --strict --quiet SHA256SUMS) || fail "sha256sum --check failed"

# Each zip, as cpack named it in its preset's tree, with its Scoop and
# winget architectures.
for row in windows-x64:64bit:x64 windows-x86:32bit:x86; do
  IFS=: read -r preset scoop winget <<<"$row"
  zip=$(cpack_setting "$top/build/$preset" CPACK_PACKAGE_FILE_NAME).zip
  url=https://github.com/test-owner/test-repo/releases/download/$tag/$zip
  hash=$(sha256sum "$out/$zip" | cut -d' ' -f1)
  listed=$(grep -c "^$hash  $zip\$" "$out/SHA256SUMS" || true)
  [ "$listed" = 1 ] || fail "SHA256SUMS does not list $zip with its hash $hash once"
  read -r scoop_url scoop_hash < <(python3 -c '
import json, sys
entry = json.load(open(sys.argv[1]))["architecture"][sys.argv[2]]
print(entry["url"], entry["hash"])' "$out/varnock.json" "$scoop")
  [ "$scoop_url" = "$url" ] || fail "varnock.json $scoop url: $scoop_url, expected $url"
  [ "$scoop_hash" = "$hash" ] || fail "varnock.json $scoop hash: $scoop_hash, expected $hash"
  # The installer whose Architecture line is this one, up to the next.
  read -r winget_url winget_hash < <(awk -v arch="$winget" '
    /^  - Architecture:/ { mine = ($3 == arch) }
    mine && $1 == "InstallerUrl:" { url = $2 }
    mine && $1 == "InstallerSha256:" { hash = $2 }
    END { print url, hash }' "$out/winget/Varnock.Varnock.installer.yaml")
  [ "$winget_url" = "$url" ] || fail "winget $winget InstallerUrl: $winget_url, expected $url"
  [ "${winget_hash,,}" = "$hash" ] || fail "winget $winget InstallerSha256: $winget_hash, expected $hash"
done
sums=$(wc -l <"$out/SHA256SUMS")
[ "$sums" = 2 ] || fail "SHA256SUMS has $sums lines, expected one for each zip"

# Refusals: each must exit with 2, print the one line of make-release's own
# message that the row names, and come before anything is built or written:
# the work folder and the source tree's build/ stay as they were.
snapshot() { find "$work" "$top/build" ! -path "$work/log" -printf '%p %y %s %T@\n' | sort; }
refused() {  # refused MESSAGE COMMAND...
  local message=$1 status=0 before
  shift
  before=$(snapshot)
  "$@" >"$work/log" 2>&1 || status=$?
  if [ "$status" != 2 ]; then
    fail "exited with $status, not 2, for $*: $(cat "$work/log")"
  elif [ "$(wc -l <"$work/log")" != 1 ] || ! grep -q '^make-release: ' "$work/log" ||
       ! grep -qF -- "$message" "$work/log"; then
    fail "for $*, said: $(cat "$work/log"); expected only: make-release: ...$message..."
  fi
  [ "$(snapshot)" = "$before" ] || fail "wrote files for $*"
  rm -rf "$new_dir"  # what a wrong row wrote there must not spoil the next rows
}
make_release=$top/scripts/make-release
new_dir=$work/new
mkdir "$work/a-file-here"
echo "the user's own" >"$work/a-file-here/SHA256SUMS"
ln -s "$top/build" "$work/link-to-build"
# A copy of the sources as an export gives them, without .git.
exported=$work/exported
mkdir "$exported"
tar -C "$top" --exclude=./build --exclude=./.git -cf - . | tar -C "$exported" -xf -
# The same export unpacked inside an unrelated repository, whose last commit
# is of 2001-02-03.
outer=$work/outer
git init -q "$outer"
GIT_COMMITTER_DATE="@981158400 +0000" git -C "$outer" -c user.name=other -c user.email=other@example.com \
  -c commit.gpgsign=false commit -q --allow-empty -m "another project"
cp -a "$exported" "$outer/vendored-varnock"
# Folders that cannot be written: one below a file, and an empty folder
# that is immutable (as root, who may write in any folder) or read-only.
unwritable=("$work/a-file-here/SHA256SUMS/release")
if [ "$(id -u)" -ne 0 ]; then
  mkdir "$work/read-only"
  chmod 555 "$work/read-only"
  unwritable+=("$work/read-only" "$work/read-only/release")
elif mkdir "$work/immutable" && chattr +i "$work/immutable" 2>/dev/null; then
  unwritable+=("$work/immutable" "$work/immutable/release")
else
  echo "make-release: chattr +i does not work on $work's file system; no immutable OUT_DIR tried" >&2
fi

usage="usage: scripts/make-release OUT_DIR OWNER/REPO [TAG]"
refused "$usage" "$make_release"
refused "$usage" "$make_release" "$new_dir"
refused "$usage" "$make_release" "" test-owner/test-repo
refused "$usage" "$make_release" "$new_dir" test-owner/test-repo "$tag" extra
for wrong in "$version" "V$version" "v$version-rc1" "v$version.1" "v${version%.*}" ""; do
  refused "must be $tag" "$make_release" "$new_dir" test-owner/test-repo "$wrong"
done
long_owner=$(printf 'o%.0s' {1..40}) long_name=$(printf 'r%.0s' {1..101})
refused "is not OWNER/REPO" "$make_release" "$new_dir" test-owner
for wrong in /test-repo ../.. ./. -x/y _/.. a-/b a--b/c "$long_owner/r" $'t\xc3\xa9st/r'; do
  refused "cannot be a GitHub owner" "$make_release" "$new_dir" "$wrong"
done
for wrong in a/.. a/. test-owner/ a/b/c "a/b c" $'a/r\xc3\xa9po' "a/$long_name"; do
  refused "cannot be a GitHub repository's name" "$make_release" "$new_dir" "$wrong"
done
# Names GitHub takes get past those checks, to the used OUT_DIR's refusal.
for right in a/b A-1-b/.x_y-z a/... "${long_owner%o}/${long_name%r}"; do
  refused "already holds files" "$make_release" "$out" "$right"
done
refused "already holds files" "$make_release" "$work/a-file-here" test-owner/test-repo
refused "exists and is not a folder" "$make_release" "$work/a-file-here/SHA256SUMS" test-owner/test-repo
for inside in "$top/build" "$top/build/release" "$top/build/../build/windows-x64/release" \
              "$work/link-to-build/release"; do
  refused "lies in the source tree's build/" "$make_release" "$inside" test-owner/test-repo
done
refused "git cannot tell this commit's date" env -u SOURCE_DATE_EPOCH "$exported/scripts/make-release" \
  "$new_dir" test-owner/test-repo
refused "another repository's, not this source tree" env -u SOURCE_DATE_EPOCH \
  "$outer/vendored-varnock/scripts/make-release" "$new_dir" test-owner/test-repo
refused "is not a number of seconds" env SOURCE_DATE_EPOCH=yesterday "$make_release" "$new_dir" test-owner/test-repo
# Before 1980-01-01 12:01:00 or after 2106-02-07 06:28:15 UTC (2^32 - 1,
# past which a zip entry's extended timestamp wraps, though its DOS date
# goes on to 2107); the last is 2^64 + 1700000000, which 64-bit arithmetic
# would take for 2023.
for epoch in 0 315000000 315576059 4294967296 4354819198 99999999999 18446744075409551616; do
  refused "a time that a zip entry cannot hold as given" env SOURCE_DATE_EPOCH="$epoch" "$make_release" \
    "$new_dir" test-owner/test-repo
done
# The first and last dates a zip holds, and git's, get past the date's
# checks to OUT_DIR's.
for folder in "${unwritable[@]}"; do
  for epoch in "" 315576060 4294967295; do
    refused "OUT_DIR '$folder' cannot be written" env SOURCE_DATE_EPOCH="$epoch" "$make_release" \
      "$folder" test-owner/test-repo
  done
done

if [ "$failures" -ne 0 ]; then
  echo "make-release: $failures failures" >&2
  exit 1
fi
echo "make-release: SHA256SUMS, varnock.json and the winget installers agree with the zips; wrong arguments refused"
