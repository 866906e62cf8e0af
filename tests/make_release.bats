#!/usr/bin/env bats
# scripts/make-release for a test repository: what it writes agrees with the
# zips, with and without a TAG. It builds in the trees of the windows-x64
# and windows-x86 presets, and the tests read the version and the zips' names
# there: scripts/test runs it after their workflows, which leave them up to
# date. (make_release_refusals.bats tests what it refuses.)

# shellcheck source=release_helpers.bash
source "$BATS_TEST_DIRNAME/release_helpers.bash"

repository=test-owner/test-repo
work=$BATS_FILE_TMPDIR
# The version that cpack gave the zips.
version=$(cpack_setting "$source/build/windows-x64" CPACK_PACKAGE_VERSION 2>/dev/null || true)
tag=v$version

# released NAME [TAG]: make-release for the test repository into
# $work/NAME, which must succeed; once for the whole file.
released() {
  [ -n "$version" ] || fail "no version in $source/build/windows-x64/CPackConfig.cmake: run its workflow first"
  [ ! -e "$work/$1.done" ] || return 0
  run --separate-stderr "$source/scripts/make-release" "$work/$1" "$repository" "${@:2}"
  [ "$status" -eq 0 ] || fail "make-release exited with $status${2:+ for the tag $2}: $stderr"
  touch "$work/$1.done"
}

@test "SHA256SUMS lists each zip, by the name cpack gave it, with its hash" {
  released release "$tag"
  (cd "$work/release" && sha256sum --check --strict --quiet SHA256SUMS) || fail "sha256sum --check failed"
  local preset zip hash
  for preset in windows-x64 windows-x86; do
    zip=$(cpack_setting "$source/build/$preset" CPACK_PACKAGE_FILE_NAME).zip
    hash=$(sha256sum "$work/release/$zip" | cut -d' ' -f1)
    [ "$(grep -c "^$hash  $zip\$" "$work/release/SHA256SUMS")" = 1 ] ||
      fail "SHA256SUMS does not list $zip with its hash $hash once: $(cat "$work/release/SHA256SUMS")"
  done
  [ "$(wc -l <"$work/release/SHA256SUMS")" = 2 ] || fail "SHA256SUMS lists more than the two zips"
}

# zip_url_and_hash PRESET: the URL of the zip of PRESET's tree in the tag's
# release, and its hash.
zip_url_and_hash() {
  local zip
  zip=$(cpack_setting "$source/build/$1" CPACK_PACKAGE_FILE_NAME).zip
  echo "https://github.com/$repository/releases/download/$tag/$zip $(sha256sum "$work/release/$zip" | cut -d' ' -f1)"
}

@test "varnock.json gives each zip's URL in the tag's release and its hash" {
  released release "$tag"
  local row preset architecture
  for row in windows-x64:64bit windows-x86:32bit; do
    IFS=: read -r preset architecture <<<"$row"
    run python3 -c '
import json, sys
entry = json.load(open(sys.argv[1]))["architecture"][sys.argv[2]]
print(entry["url"], entry["hash"])' "$work/release/varnock.json" "$architecture"
    assert_output "$(zip_url_and_hash "$preset")"
  done
}

@test "winget's installer manifest gives each zip's URL in the tag's release and its hash" {
  released release "$tag"
  local row preset architecture
  for row in windows-x64:x64 windows-x86:x86; do
    IFS=: read -r preset architecture <<<"$row"
    # The installer whose Architecture line is this one, up to the next;
    # winget writes the hash in capitals.
    run awk -v arch="$architecture" '
      /^  - Architecture:/ { mine = ($3 == arch) }
      mine && $1 == "InstallerUrl:" { url = $2 }
      mine && $1 == "InstallerSha256:" { hash = tolower($2) }
      END { print url, hash }' "$work/release/winget/Varnock.Varnock.installer.yaml"
    assert_output "$(zip_url_and_hash "$preset")"
  done
}

@test "a TAG changes none of the files" {
  released release "$tag"
  released untagged
  run diff -r "$work/untagged" "$work/release"
  assert_success
}
