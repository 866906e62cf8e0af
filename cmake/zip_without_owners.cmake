# Run by cpack once it has made the zip (CPACK_POST_BUILD_SCRIPTS). The zip
# must not tell who made it: libarchive writes the uid and gid of the user
# running cpack into every entry, and zip_without_owners.py takes them out
# again. On Windows libarchive records no owner, so nothing needs Python there.
if(CMAKE_HOST_WIN32)
  return()
endif()
find_program(VARNOCK_PYTHON NAMES python3 python)
if(NOT VARNOCK_PYTHON)
  message(FATAL_ERROR "cpack needs python3 to take the builder's uid and gid out of the zip "
                      "(scripts/install-deps installs it)")
endif()
execute_process(COMMAND ${VARNOCK_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/zip_without_owners.py ${CPACK_PACKAGE_FILES}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "zip_without_owners.py failed on ${CPACK_PACKAGE_FILES}")
endif()
