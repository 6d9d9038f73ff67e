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
