#!/usr/bin/env bash
# reproducible_build.sh SOURCE TOOLCHAIN WORK
# Builds the program and its zip twice from scratch, in two build trees of
# different paths under WORK, and fails unless both builds give the same bytes.
set -euo pipefail
source=$1 toolchain=$2 work=$3
rm -rf "$work"
trees=("$work/first" "$work/the-second-build")
for tree in "${trees[@]}"; do
  cmake -S "$source" -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DVARNOCK_TESTS=OFF >/dev/null
  cmake --build "$tree" --target varnock >/dev/null
  (cd "$tree" && cpack >/dev/null)
  sleep 1  # a build that stamps the time would now differ
done
status=0
for artefact in varnock.exe "$(cd "${trees[0]}" && ls varnock-*.zip)"; do
  if cmp "${trees[0]}/$artefact" "${trees[1]}/$artefact"; then
    echo "same bytes: $artefact"
  else
    echo "two builds differ: $artefact"
    status=1
  fi
done
rm -rf "$work"
exit $status
