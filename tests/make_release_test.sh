#!/usr/bin/env bash
# make_release_test.sh: runs scripts/make-release for a test repository and
# checks what must hold on any machine: SHA256SUMS checks out and names both
# zips, the Scoop and winget manifests carry the zips' own hashes and URLs
# that name the tag, and a TAG that is not vVERSION is refused with nothing
# written.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(varnock VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
tag=v$version
work=$(mktemp -d /tmp/varnock-make-release.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "make-release: $*" >&2; failures=$((failures + 1)); }

out=$work/release
status=0
"$top/scripts/make-release" "$out" test-owner/test-repo "$tag" 2>"$work/log" || status=$?
if [ "$status" != 0 ]; then
  cat "$work/log" >&2
  echo "make-release: exited with $status for the tag $tag" >&2
  exit 1
fi
(cd "$out" && sha256sum --check --strict --quiet SHA256SUMS) || fail "sha256sum --check failed"

# Each zip with its Scoop and winget architectures.
for row in win64:64bit:x64 win32:32bit:x86; do
  IFS=: read -r platform scoop winget <<<"$row"
  zip=varnock-$version-$platform.zip
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

# Tags that are not this version's: refused, with a message naming the
# right one, and no OUT_DIR made.
for wrong in "$version" "V$version" "v$version-rc1" "v$version.1" "v${version%.*}" ""; do
  refused=$work/refused
  status=0
  "$top/scripts/make-release" "$refused" test-owner/test-repo "$wrong" 2>"$work/log" >/dev/null || status=$?
  if [ "$status" = 0 ]; then
    fail "took the tag '$wrong'"
  elif ! grep -q "must be $tag" "$work/log"; then
    fail "refused the tag '$wrong' without naming $tag: $(cat "$work/log")"
  fi
  [ ! -e "$refused" ] || fail "wrote $refused for the refused tag '$wrong'"
  rm -rf "$refused"
done

if [ "$failures" -ne 0 ]; then
  echo "make-release: $failures failures" >&2
  exit 1
fi
echo "make-release: SHA256SUMS, varnock.json and the winget installers agree with the zips; wrong tags refused"
