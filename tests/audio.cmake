# The audio tests encode their own short Ogg tracks with the generator's
# writer, and check the generator's output against a fresh run of it.
if(TARGET audio_tests)
  pkg_check_modules(KELP_TEST_VORBISENC REQUIRED IMPORTED_TARGET vorbisenc vorbis ogg)
  target_sources(audio_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/gen_audio/ogg.cpp)
  target_include_directories(audio_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/gen_audio)
  target_link_libraries(audio_tests PRIVATE PkgConfig::KELP_TEST_VORBISENC)
  target_compile_definitions(audio_tests PRIVATE KELP_GEN_AUDIO="$<TARGET_FILE:gen_audio>")
  add_dependencies(audio_tests gen_audio)
endif()
