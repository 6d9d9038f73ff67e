# A tiny X client for the end-to-end tests: a window manager's close request.
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
add_executable(xclose ${CMAKE_CURRENT_SOURCE_DIR}/tools/xclose.c)
target_link_libraries(xclose PRIVATE PkgConfig::X11)
set_target_properties(xclose PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
