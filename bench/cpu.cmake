# CPU of the demo's loop between frames beside a paced plain-GL frame, and
# how late the loop wakes for an update.
add_executable(bench_cpu ${CMAKE_CURRENT_SOURCE_DIR}/cpu.cpp)
target_link_libraries(bench_cpu PRIVATE mygame)
add_dependencies(bench_cpu assets)
set_target_properties(bench_cpu PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
