# shellcheck shell=bash
# What cpack made, and what it was told, as the scripts and tests read them:
# only cmake/packaging.cmake names the zips.

# packaged_zips LOG...: the zips that cpack's output in the LOGs says it
# made, a line each.
packaged_zips() {
  sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' "$@"
}

# cpack_setting TREE VARIABLE: what cpack was told of VARIABLE in the
# configured build tree TREE.
cpack_setting() {
  sed -n "s/^set($2 \"\(.*\)\")\$/\\1/p" "$1/CPackConfig.cmake"
}
