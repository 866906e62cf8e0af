# The date that every entry of a zip of this source tree is given, in seconds
# since 1970, or why there is none. cpack takes it when it packages
# (packaging_config.cmake), and scripts/make-release asks for it before it
# builds, so that both take the same date and refuse the same ones:
#
#   cmake -DVARNOCK_SOURCE_DIR=DIR -P cmake/zip_date.cmake
#
# prints the date, or "refused: WHY", on one line.
#
# The date is SOURCE_DATE_EPOCH when it is set, else the date of the commit
# checked out now, from git, but only when git's top-level folder is this
# source tree itself: a tree exported into another, unrelated repository
# would otherwise take that repository's date. A zip entry holds its date
# twice: as a DOS date, from 1980 to 2107 (strip-nondeterminism moves an
# earlier one to 1980), and in its extended timestamp as 32-bit Unix time,
# which ends at 2106-02-07 06:28:15 UTC and wraps past it. No other date is
# taken. Why the zips carry the commit's date: docs/design.md.

# varnock_zip_date(SOURCE_DIR DATE_VAR PROBLEM_VAR): PROBLEM_VAR is empty
# when DATE_VAR holds the date.
function(varnock_zip_date source_dir date_var problem_var)
  set(date "$ENV{SOURCE_DATE_EPOCH}")
  set(origin "SOURCE_DATE_EPOCH is")
  set(no_date "")
  if(date STREQUAL "")
    set(origin "the commit's date, from git, is")
    find_program(varnock_git git)
    if(NOT varnock_git)
      set(no_date "no git found")
    else()
      execute_process(COMMAND ${varnock_git} rev-parse --show-toplevel
                      WORKING_DIRECTORY ${source_dir}
                      RESULT_VARIABLE status OUTPUT_VARIABLE git_top ERROR_VARIABLE no_date
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
      file(REAL_PATH "${source_dir}" real_source_dir)
      if(status EQUAL 0)
        file(REAL_PATH "${git_top}" git_top)
        if(NOT git_top STREQUAL real_source_dir)
          set(no_date "git's top-level folder is ${git_top}, another repository's, not this source tree")
        else()
          execute_process(COMMAND ${varnock_git} log -1 --format=%ct
                          WORKING_DIRECTORY ${source_dir}
                          RESULT_VARIABLE status OUTPUT_VARIABLE date ERROR_VARIABLE no_date
                          OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
          if(NOT status EQUAL 0)
            set(date "")
          endif()
        endif()
      endif()
    endif()
    if(date STREQUAL "")
      string(REGEX REPLACE "\n.*" "" no_date "${no_date}")
      set(${problem_var} "git cannot tell this commit's date (${no_date}), which the zips carry so that each build of the commit gives the same bytes; work in a checkout that git reads (one that another user owns needs git config --global --add safe.directory ${source_dir}), or give the commit's date as SOURCE_DATE_EPOCH (git log -1 --format=%ct in a checkout of it)" PARENT_SCOPE)
      return()
    endif()
  endif()
  if(NOT date MATCHES "^0*([0-9]+)$")
    set(${problem_var} "SOURCE_DATE_EPOCH '${date}' is not a number of seconds since 1970" PARENT_SCOPE)
    return()
  endif()
  # Ten digits at most before comparing, so that no number is too long for it.
  set(seconds "${CMAKE_MATCH_1}")
  string(LENGTH "${seconds}" digits)
  if(digits GREATER 10 OR seconds LESS 315576060 OR seconds GREATER 4294967295)
    set(${problem_var} "${origin} ${date}, a time that a zip entry cannot hold as given: give SOURCE_DATE_EPOCH from 315576060 (1980-01-01 12:01:00 UTC) to 4294967295 (2106-02-07 06:28:15 UTC)" PARENT_SCOPE)
    return()
  endif()
  set(${date_var} "${date}" PARENT_SCOPE)
  set(${problem_var} "" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  varnock_zip_date("${VARNOCK_SOURCE_DIR}" date problem)
  if(problem)
    set(date "refused: ${problem}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${date}")
endif()
