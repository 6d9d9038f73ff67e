# Sprite benchmark: the framework against a plain-GL reference drawing the
# same scene. Run both with bench/run_sprites.sh.
add_executable(bench_sprites ${CMAKE_CURRENT_SOURCE_DIR}/sprites.cpp)
target_link_libraries(bench_sprites PRIVATE mygame)
target_compile_definitions(bench_sprites PRIVATE KELP_BIN_DIR="${KELP_BIN_DIR}")
add_dependencies(bench_sprites assets)
set_target_properties(bench_sprites PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

add_executable(bench_sprites_ref ${CMAKE_CURRENT_SOURCE_DIR}/sprites_reference.cpp)
target_include_directories(bench_sprites_ref PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(bench_sprites_ref PRIVATE PkgConfig::GLFW OpenGL::GL)
set_target_properties(bench_sprites_ref PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
