# The headers as a game sees them, <kelp/KELPCore.h>, for games built in this
# tree too (desktop and browser builds): each forwards to its source, so
# nothing is copied and nothing goes stale. KELPInstall.cmake installs the
# same list.
set(KELP_PUBLIC_HEADERS core/KELPCore.h)

function(kelp_forward_headers target)
  foreach(header ${KELP_PUBLIC_HEADERS})
    get_filename_component(KELP_HEADER_NAME ${header} NAME)
    set(KELP_HEADER_SOURCE ${CMAKE_SOURCE_DIR}/${header})
    configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/forward.h.in
      ${CMAKE_BINARY_DIR}/include/kelp/${KELP_HEADER_NAME} @ONLY)
  endforeach()
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${CMAKE_BINARY_DIR}/include>)
endfunction()
