# The framework as another project uses it: installed into a temporary
# prefix, the game template built out of tree against it (through CMake's
# find_package and through pkg-config), then run on a private display.
set(KELP_TEMPLATE_FLAGS "")
if(KELP_SANITIZE OR KELP_FUZZ)
  # The instrumented library needs the sanitizer runtimes in the game too.
  set(KELP_TEMPLATE_FLAGS "-fsanitize=address,undefined")
endif()
add_test(NAME install_template
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/install/test_install.py
    --cmake ${CMAKE_COMMAND} --build-dir ${CMAKE_BINARY_DIR} --source-dir ${CMAKE_SOURCE_DIR}
    --cxx ${CMAKE_CXX_COMPILER} --cxx-flags=${KELP_TEMPLATE_FLAGS} --version ${PROJECT_VERSION})
set_tests_properties(install_template PROPERTIES LABELS "e2e;install" TIMEOUT 600
  ENVIRONMENT "PYTHONPATH=${HARNESS}")

# A game's own browser build: the framework alone built with emcmake in a
# tree of its own and installed into a temporary prefix, the template built
# against it with emcmake and played in headless Chromium. Skipped, saying
# so, without Emscripten or Chromium.
if(NOT KELP_SANITIZE AND NOT KELP_FUZZ)
  add_test(NAME install_web_template
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/install/test_web_template.py
      --build-dir ${CMAKE_BINARY_DIR} --source-dir ${CMAKE_SOURCE_DIR})
  set_tests_properties(install_web_template PROPERTIES LABELS "web;install" TIMEOUT 1200 SKIP_RETURN_CODE 77
    ENVIRONMENT "PYTHONPATH=${HARNESS}")
endif()

# The demo run twice as an ordinary player from a folder the player cannot
# write: saves go to the player's data folder and survive.
add_test(NAME install_player_saves
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/install/test_installed_saves.py
    --bin-dir ${KELP_BIN_DIR} --build-dir ${CMAKE_BINARY_DIR})
set_tests_properties(install_player_saves PROPERTIES LABELS "e2e;install" TIMEOUT 600
  ENVIRONMENT "PYTHONPATH=${HARNESS}")

# The framework alone (KELP_LIBRARY_ONLY), as an author builds it: its own
# tree, configured, built and installed; nothing else built, the kit in the
# prefix, and a game started with kelp-new-game built against it and run.
# Sanitizer trees leave it out: it builds a plain tree of its own.
if(NOT KELP_SANITIZE AND NOT KELP_FUZZ)
  add_test(NAME install_library_only
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/install/test_library_only.py
      --cmake ${CMAKE_COMMAND} --source-dir ${CMAKE_SOURCE_DIR} --cxx ${CMAKE_CXX_COMPILER})
  set_tests_properties(install_library_only PROPERTIES LABELS "e2e;install" TIMEOUT 1200
    ENVIRONMENT "PYTHONPATH=${HARNESS}")
endif()
