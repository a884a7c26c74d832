# Tests of a build that runs under wine share one wine server for the whole run:
# without it every test waits seconds for the server that the previous one left behind.
# GORVIC_TEST_PROPERTIES is what each test then needs.
set(GORVIC_TEST_PROPERTIES "")
if(CMAKE_CROSSCOMPILING_EMULATOR MATCHES "wine")
  set(_gorvic_wine_server sh ${CMAKE_CURRENT_LIST_DIR}/wine-server.sh)
  add_test(NAME wine_start COMMAND ${_gorvic_wine_server} start ${WINE_PROGRAM})
  add_test(NAME wine_stop COMMAND ${_gorvic_wine_server} stop)
  # WINEDEBUG=-all also keeps wine's own notes off the standard error the tests compare.
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT WINEDEBUG=-all)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
  set(GORVIC_TEST_PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT WINEDEBUG=-all)
endif()
