# Prints the version of project(varnock VERSION ...) in CMakeLists.txt, for
# scripts/make-release to check its TAG against before it configures a
# build tree:
#
#   cmake -P cmake/project_version.cmake
#
# The only reader of that line: the build takes PROJECT_VERSION, and what
# reads a build tree takes CPACK_PACKAGE_VERSION from its CPackConfig.cmake.
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../CMakeLists.txt" project REGEX "^project\\(varnock VERSION [0-9.]+")
string(REGEX REPLACE "^project\\(varnock VERSION ([0-9.]+).*" "\\1" version "${project}")
execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${version}")
