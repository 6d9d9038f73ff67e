# The audio tests encode their own short Ogg tracks with the generator's
# writer, check the generator's output against a fresh run of it, and play
# the Ogg fuzz corpus through the music stream.
if(TARGET audio_tests)
  pkg_check_modules(KELP_TEST_VORBISENC REQUIRED IMPORTED_TARGET vorbisenc vorbis ogg)
  # stb_vorbis: a second, independent decoder to hold the stream's samples against.
  pkg_check_modules(STB REQUIRED IMPORTED_TARGET stb)
  target_sources(audio_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/gen_audio/ogg.cpp)
  target_include_directories(audio_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/gen_audio)
  target_link_libraries(audio_tests PRIVATE PkgConfig::KELP_TEST_VORBISENC PkgConfig::STB)
  target_compile_definitions(audio_tests PRIVATE KELP_GEN_AUDIO="$<TARGET_FILE:gen_audio>"
    KELP_FUZZ_CORPUS="${CMAKE_SOURCE_DIR}/fuzz/corpus")
  # test_ogg.cpp watches the uploads on their way to OpenAL.
  target_link_libraries(audio_tests PRIVATE ${CMAKE_DL_LIBS})
  add_dependencies(audio_tests gen_audio)
endif()
