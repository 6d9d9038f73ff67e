# The score server's tests: the server in-process on a free port, and the
# real executable started with its options. The PostgreSQL tests start one
# database server for all their cases, so they run as one test.
file(GLOB SCORE_SERVER_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/score_server/test_*.cpp)
list(FILTER SCORE_SERVER_TEST_SOURCES EXCLUDE REGEX "test_postgresql\\.cpp$")
if(SCORE_SERVER_TEST_SOURCES AND TARGET score_server)
  add_executable(score_server_tests ${SCORE_SERVER_TEST_SOURCES})
  target_link_libraries(score_server_tests PRIVATE score_server_core mygame GTest::gtest GTest::gtest_main
    PkgConfig::BROTLIDEC)
  target_compile_definitions(score_server_tests PRIVATE SCORE_SERVER_BIN="$<TARGET_FILE:score_server>")
  add_dependencies(score_server_tests score_server)
  gtest_discover_tests(score_server_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS server TIMEOUT 300)
endif()

if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/score_server/test_postgresql.cpp AND TARGET score_server)
  add_executable(score_server_pg_tests ${CMAKE_CURRENT_LIST_DIR}/score_server/test_postgresql.cpp)
  target_link_libraries(score_server_pg_tests PRIVATE score_server_core GTest::gtest GTest::gtest_main)
  target_compile_definitions(score_server_pg_tests PRIVATE SCORE_SERVER_BIN="$<TARGET_FILE:score_server>"
    SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_dependencies(score_server_pg_tests score_server)
  add_test(NAME score_server_postgresql COMMAND score_server_pg_tests)
  set_tests_properties(score_server_postgresql PROPERTIES LABELS server TIMEOUT 600)
endif()
