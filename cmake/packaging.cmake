# `cpack` in a Windows build tree makes varnock-VERSION-win64.zip or
# varnock-VERSION-win32.zip: the program, the README and the license, in one
# folder to unzip and put on PATH.
install(TARGETS varnock RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)

# The platform and the zip's name (the folder in it bears the same), said
# only here: scripts/make-release and the tests read them from the build
# tree's CPackConfig.cmake.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME varnock)
set(CPACK_PACKAGE_VENDOR "Varnock")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_FILE_NAME varnock-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

# The zip's date is read when cpack runs (packaging_config.cmake), so that it
# is the date of the commit being packaged, not of the one configured.
configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging_config.cmake.in
               ${PROJECT_BINARY_DIR}/packaging_config.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/packaging_config.cmake)
# Nothing of who made the zip, nor of their time zone, goes into it.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/zip_dates_and_owners.cmake)
include(CPack)
