# The online score server: cpp-httplib for HTTP, SQLite for storage, and the
# framework's own scramble code to read the records.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET GLOBAL cpp-httplib)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET GLOBAL sqlite3)
find_package(Threads REQUIRED)

add_library(score_server_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/score_server/score_records.cpp
  ${CMAKE_CURRENT_LIST_DIR}/score_server/score_server.cpp)
target_include_directories(score_server_core PUBLIC ${CMAKE_CURRENT_LIST_DIR}/score_server ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(score_server_core PUBLIC kelp PkgConfig::HTTPLIB PkgConfig::SQLITE3 Threads::Threads)

add_executable(score_server ${CMAKE_CURRENT_LIST_DIR}/score_server.cpp)
target_link_libraries(score_server PRIVATE score_server_core)
set_target_properties(score_server PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
