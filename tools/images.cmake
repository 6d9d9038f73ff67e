# The demo's PNG art, drawn by a generator at build time.
pkg_check_modules(FREETYPE REQUIRED IMPORTED_TARGET freetype2)
set(KELP_FONT_FILE /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf)

file(GLOB GEN_IMAGES_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/gen_images/*.cpp)
add_executable(gen_images ${GEN_IMAGES_SOURCES})
target_include_directories(gen_images PRIVATE ${LODEPNG_INCLUDE_DIR})
target_link_libraries(gen_images PRIVATE PkgConfig::FREETYPE ${LODEPNG_LIBRARY} m)
target_compile_definitions(gen_images PRIVATE KELP_FONT_FILE="${KELP_FONT_FILE}")

set(KELP_IMAGE_NAMES entplain KELPLogo icons particles options menu logo gfx)
set(KELP_IMAGE_FILES)
foreach(name ${KELP_IMAGE_NAMES})
  list(APPEND KELP_IMAGE_FILES ${KELP_DATA_DIR}/${name}.png)
endforeach()
add_custom_command(OUTPUT ${KELP_IMAGE_FILES}
  COMMAND gen_images ${KELP_DATA_DIR} ${KELP_FONT_FILE}
  DEPENDS gen_images ${KELP_FONT_FILE}
  COMMENT "Drawing the demo's images")
list(APPEND KELP_ASSET_OUTPUTS ${KELP_IMAGE_FILES})
