# The online score server: libmicrohttpd's event loop for HTTP, SQLite or
# PostgreSQL (libpq) for storage, brotli and zlib for the web folder's
# compressed copies (made, and checked against their files), and the score
# records' library (the scramble the game puts on a record) to read the
# records: nothing of a window system.
pkg_check_modules(MICROHTTPD REQUIRED IMPORTED_TARGET GLOBAL libmicrohttpd)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET GLOBAL sqlite3)
pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET GLOBAL libpq)
pkg_check_modules(BROTLIENC REQUIRED IMPORTED_TARGET GLOBAL libbrotlienc)
pkg_check_modules(BROTLIDEC REQUIRED IMPORTED_TARGET GLOBAL libbrotlidec)
pkg_check_modules(ZLIB_PC REQUIRED IMPORTED_TARGET GLOBAL zlib)
find_package(Threads REQUIRED)

add_library(score_server_core STATIC
  $<TARGET_OBJECTS:kelp_records>
  ${CMAKE_CURRENT_LIST_DIR}/score_server/client_limits.cpp
  ${CMAKE_CURRENT_LIST_DIR}/score_server/score_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/score_server/score_store_sqlite.cpp
  ${CMAKE_CURRENT_LIST_DIR}/score_server/score_store_postgresql.cpp
  ${CMAKE_CURRENT_LIST_DIR}/score_server/web_folder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/score_server/score_server.cpp)
target_include_directories(score_server_core PUBLIC ${CMAKE_CURRENT_LIST_DIR}/score_server ${CMAKE_CURRENT_LIST_DIR})
target_include_directories(score_server_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(score_server_core PUBLIC PkgConfig::MICROHTTPD PkgConfig::SQLITE3 PkgConfig::LIBPQ
  PkgConfig::BROTLIENC PkgConfig::BROTLIDEC PkgConfig::ZLIB_PC Threads::Threads)

add_executable(score_server ${CMAKE_CURRENT_LIST_DIR}/score_server.cpp)
target_link_libraries(score_server PRIVATE score_server_core)
set_target_properties(score_server PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
