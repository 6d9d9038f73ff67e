# The image generator: same bytes on every run, the sizes and layouts the
# loader and the screens expect.
add_executable(asset_image_checks ${CMAKE_CURRENT_LIST_DIR}/assets/check_images.cpp)
target_include_directories(asset_image_checks PRIVATE ${LODEPNG_INCLUDE_DIR})
target_link_libraries(asset_image_checks PRIVATE ${LODEPNG_LIBRARY} GTest::gtest GTest::gtest_main)
target_compile_definitions(asset_image_checks PRIVATE KELP_GEN_IMAGES="$<TARGET_FILE:gen_images>"
  KELP_DATA_DIR="${KELP_DATA_DIR}")
add_dependencies(asset_image_checks gen_images assets)
gtest_discover_tests(asset_image_checks DISCOVERY_TIMEOUT 60 PROPERTIES LABELS assets)
