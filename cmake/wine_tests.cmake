# Each ctest run under Wine gets a throwaway Wine prefix of its own, made once
# before the first test and torn down, wineserver and all, after the last one,
# whether the tests passed or not.
set(varnock_wine_prefix ${PROJECT_BINARY_DIR}/wine-prefix)

function(varnock_wine_prefix_fixture)
  set(script ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh)
  add_test(NAME wine_prefix_start COMMAND ${script} serve ${VARNOCK_WINE} ${varnock_wine_prefix})
  add_test(NAME wine_prefix_stop COMMAND ${script} stop ${VARNOCK_WINE} ${varnock_wine_prefix})
  set_tests_properties(wine_prefix_start PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 180)
  set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine_prefix TIMEOUT 60)
endfunction()

# varnock_run_under_wine(LOCALE TEST...): the tests run in that prefix, in the
# given Linux locale, from which Wine takes the ANSI code page. A test that
# cannot run under Wine on this machine at all says so and is skipped
# (cmake/under-wine.sh).
function(varnock_run_under_wine locale)
  set_tests_properties(${ARGN} PROPERTIES
    FIXTURES_REQUIRED wine_prefix
    SKIP_RETURN_CODE 77
    ENVIRONMENT "WINEPREFIX=${varnock_wine_prefix};LC_ALL=${locale}")
endfunction()
