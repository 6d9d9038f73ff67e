# The demo's loop on the machine's clock: rates and frame deltas, printed.
add_executable(bench_loop ${CMAKE_CURRENT_SOURCE_DIR}/loop.cpp)
target_link_libraries(bench_loop PRIVATE mygame)
target_compile_definitions(bench_loop PRIVATE KELP_BIN_DIR="${KELP_BIN_DIR}")
add_dependencies(bench_loop assets)
set_target_properties(bench_loop PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
