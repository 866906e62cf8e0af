# Run by cpack once it has made the zip (CPACK_POST_BUILD_SCRIPTS). The zip
# must not tell who made it, nor where: libarchive writes the uid and gid of
# the user running cpack into every entry, and each entry's time in the
# builder's time zone. strip-nondeterminism sets every owner to 0 and every
# time to SOURCE_DATE_EPOCH (packaging_config.cmake has set it) in UTC.
# On Windows libarchive records no owner, and strip-nondeterminism, a Perl
# program of Debian's, is not at hand: there the times stay in local time.
if(CMAKE_HOST_WIN32)
  return()
endif()
find_program(VARNOCK_STRIP_NONDETERMINISM strip-nondeterminism)
if(NOT VARNOCK_STRIP_NONDETERMINISM)
  message(FATAL_ERROR "cpack needs strip-nondeterminism to take the builder's uid, gid and "
                      "time zone out of the zip (scripts/install-deps installs it)")
endif()
execute_process(COMMAND ${VARNOCK_STRIP_NONDETERMINISM} --type zip --timestamp $ENV{SOURCE_DATE_EPOCH}
                        ${CPACK_PACKAGE_FILES}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "strip-nondeterminism failed on ${CPACK_PACKAGE_FILES}")
endif()
