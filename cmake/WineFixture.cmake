# Tests of a build that runs under wine share one wine server for the whole run:
# without it every test waits seconds for the server that the previous one left behind.
# GORVIC_TEST_PROPERTIES is what each test then needs.
set(GORVIC_TEST_PROPERTIES "")
if(CMAKE_CROSSCOMPILING_EMULATOR MATCHES "wine")
  # A server that already runs (wineserver -p then fails) serves as well.
  add_test(NAME wine_start
           COMMAND sh -c "wine cmd /c exit 0 >/dev/null 2>&1; wineserver -p 2>/dev/null || true")
  add_test(NAME wine_stop COMMAND sh -c "wineserver -k 2>/dev/null || true")
  # WINEDEBUG=-all also keeps wine's own notes off the standard error the tests compare.
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT WINEDEBUG=-all)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
  set(GORVIC_TEST_PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT WINEDEBUG=-all)
endif()
