# Writes a release's files into a folder, from zips that cpack made:
#
#   cmake -DVARNOCK_ZIPS="ZIP;ZIP" -DVARNOCK_REPOSITORY=OWNER/REPO -DVARNOCK_TAG=TAG
#         -DVARNOCK_OUT_DIR=DIR -P cmake/release_files.cmake
#
# scripts/make-release runs it once it has checked its arguments and built
# the zips. Into DIR go the zips, SHA256SUMS (sha256sum's format) and each
# manifest of packaging/, FILE.in filled in as DIR/FILE. Each zip lies in
# its build tree, whose CPackConfig.cmake tells the platform it was made
# for (CPACK_SYSTEM_NAME), the folder it holds (CPACK_PACKAGE_FILE_NAME),
# the version (CPACK_PACKAGE_VERSION, @version@) and the one-line
# description of project() (CPACK_PACKAGE_DESCRIPTION_SUMMARY, @summary@).
# A manifest names a win64 zip's facts so, and a win32 zip's alike:
#   @win64_url@              where GitHub serves it in the release of TAG
#   @win64_folder@           the folder it holds
#   @win64_sha256@           its SHA-256 hash (@win64_SHA256@ in capitals)
#   @win64_autoupdate_url@,  the same for any release, "$version" standing
#   @win64_autoupdate_folder@  for the version, as Scoop's autoupdate takes them
#                            (with the hashes of that release's SHA256SUMS)
set(tag "${VARNOCK_TAG}")
set(site "https://github.com/${VARNOCK_REPOSITORY}")
set(downloads "${site}/releases/download")
set(sums "")
foreach(zip IN LISTS VARNOCK_ZIPS)
  get_filename_component(tree "${zip}" DIRECTORY)
  include("${tree}/CPackConfig.cmake")
  set(version "${CPACK_PACKAGE_VERSION}")
  set(summary "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}")
  set(platform "${CPACK_SYSTEM_NAME}")
  get_filename_component(name "${zip}" NAME)
  set(${platform}_url "${downloads}/${tag}/${name}")
  set(${platform}_folder "${CPACK_PACKAGE_FILE_NAME}")
  string(REPLACE "${version}" "$version" any_release "${tag}/${name}")
  set(${platform}_autoupdate_url "${downloads}/${any_release}")
  string(REPLACE "${version}" "$version" ${platform}_autoupdate_folder "${CPACK_PACKAGE_FILE_NAME}")
  file(SHA256 "${zip}" ${platform}_sha256)
  string(TOUPPER "${${platform}_sha256}" ${platform}_SHA256)
  string(APPEND sums "${${platform}_sha256}  ${name}\n")
  file(COPY "${zip}" DESTINATION "${VARNOCK_OUT_DIR}")
endforeach()
file(WRITE "${VARNOCK_OUT_DIR}/SHA256SUMS" "${sums}")

# winget's manifests of a version go to manifests/v/Varnock/Varnock/VERSION/
# in the winget-pkgs repository, and each begins with these lines.
set(winget_header "PackageIdentifier: Varnock.Varnock\nPackageVersion: ${version}")
set(templates "${CMAKE_CURRENT_LIST_DIR}/../packaging")
file(GLOB_RECURSE manifests RELATIVE "${templates}" "${templates}/*.in")
foreach(manifest IN LISTS manifests)
  string(REGEX REPLACE "\\.in$" "" written "${manifest}")
  configure_file("${templates}/${manifest}" "${VARNOCK_OUT_DIR}/${written}" @ONLY)
endforeach()
