# Each ctest run under Wine gets a throwaway Wine prefix of its own, made once
# before the first test and torn down, wineserver and all, after the last one,
# whether the tests passed or not.
function(varnock_run_under_wine)
  set(prefix ${PROJECT_BINARY_DIR}/wine-prefix)
  set(script ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh)
  add_test(NAME wine_prefix_start COMMAND ${script} start ${CMAKE_CROSSCOMPILING_EMULATOR} ${prefix})
  add_test(NAME wine_prefix_stop COMMAND ${script} stop ${CMAKE_CROSSCOMPILING_EMULATOR} ${prefix})
  set_tests_properties(wine_prefix_start PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 180)
  set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine_prefix TIMEOUT 60)
  set_tests_properties(${ARGN} PROPERTIES
    FIXTURES_REQUIRED wine_prefix
    # C.UTF-8 makes Wine's ANSI code page 1252, which the tests' paths assume.
    ENVIRONMENT "WINEPREFIX=${prefix};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;LC_ALL=C.UTF-8")
endfunction()
