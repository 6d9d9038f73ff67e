add_executable(bench_scenes ${CMAKE_CURRENT_SOURCE_DIR}/scenes.cpp)
target_link_libraries(bench_scenes PRIVATE mygame)
add_dependencies(bench_scenes assets)
set_target_properties(bench_scenes PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
