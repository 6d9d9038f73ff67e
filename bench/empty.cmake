add_executable(bench_empty ${CMAKE_CURRENT_SOURCE_DIR}/empty_scene.cpp)
target_link_libraries(bench_empty PRIVATE mygame)
set_target_properties(bench_empty PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
