# The browser build in headless Chromium: the test builds it in build-web/
# beside the source (incrementally, reused between runs and by
# scripts/web.sh), with this tree's generated assets. It says so and is
# skipped when Emscripten or Chromium is missing. Sanitizer trees leave it
# out: nothing of theirs runs in the browser.
if(NOT KELP_SANITIZE AND NOT KELP_FUZZ)
  add_test(NAME web_demo
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/web/test_web.py --build-dir ${CMAKE_BINARY_DIR}
      --source-dir ${CMAKE_SOURCE_DIR} --web-dir ${CMAKE_SOURCE_DIR}/build-web)
  set_tests_properties(web_demo PROPERTIES LABELS web TIMEOUT 900 SKIP_RETURN_CODE 77
    RESOURCE_LOCK build-web ENVIRONMENT "PYTHONPATH=${HARNESS}")
endif()
