# The demo's sound effects and music, synthesised at build time.
pkg_check_modules(KELP_VORBISENC REQUIRED IMPORTED_TARGET vorbisenc vorbis ogg)

file(GLOB GEN_AUDIO_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/gen_audio/*.cpp)
add_executable(gen_audio ${GEN_AUDIO_SOURCES})
target_link_libraries(gen_audio PRIVATE PkgConfig::KELP_VORBISENC m)

set(GEN_AUDIO_DIR ${KELP_DATA_DIR}/audio)
set(GEN_AUDIO_FILES
  ${GEN_AUDIO_DIR}/95.wav
  ${GEN_AUDIO_DIR}/01.wav
  ${GEN_AUDIO_DIR}/99.wav
  ${GEN_AUDIO_DIR}/98.wav
  ${GEN_AUDIO_DIR}/Internet.ogg)
add_custom_command(
  OUTPUT ${GEN_AUDIO_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${GEN_AUDIO_DIR}
  COMMAND gen_audio ${GEN_AUDIO_DIR}
  DEPENDS gen_audio
  COMMENT "Synthesising the demo's sounds"
  VERBATIM)
list(APPEND KELP_ASSET_OUTPUTS ${GEN_AUDIO_FILES})
