# A game's page, for the browser build (emcmake):
#
#   kelp_web_page(<target> [TITLE <text>] [DATA <folder>] [OUTPUT <folder>]
#     [PRE_JS <file>...] [PRELOAD <from>@<to>...] [LATE <from>@<to>...]
#     [DEPENDS <file>...])
#
# <target> is the game's executable, linked with the framework (KELP::kelp).
# OUTPUT (default: web/ in the build folder) receives the page: index.html
# (titled TITLE, default the target's name), <target>.js, <target>.wasm and
# the data pack <target>.data, which any static web server serves. The data
# pack holds DATA (default: Data beside the CMakeLists.txt) as the game's
# Data folder; PRELOAD adds other files or folders to the page's file
# system, below the data root /kelp. LATE files (a game's music, which its
# start should not wait for) are left out of the pack and copied beside the
# page (<to> /kelp/Data/... to OUTPUT/Data/...); the page fetches them once
# the game runs, and a track asked for before its file has come starts when
# it arrives. PRE_JS runs scripts of one's own after the page's (they may set
# the page's options: Module.scoreOrigin, and the canvas's pixel budget,
# Module.kelpMaxPixelRatio and Module.kelpMaxPixels, Infinity for none), and
# DEPENDS names further files whose change relinks the page.
#
# The page knows the size and SHA-256 of the data pack and the code that the
# build wrote, and takes a download that differs (cut short on its way) as
# failed: the page is written once the game is linked, by this same file run
# as a script (cmake -P).

if(CMAKE_SCRIPT_MODE_FILE AND KELP_PAGE_OUT)
  set(KELP_WEB_FILES "")
  foreach(suffix data wasm)
    set(file ${KELP_PAGE_BASE}.${suffix})
    if(EXISTS ${file})
      file(SIZE ${file} size)
      file(SHA256 ${file} sha256)
      get_filename_component(name ${file} NAME)
      string(APPEND KELP_WEB_FILES "${comma}{url: '${name}', size: ${size}, sha256: '${sha256}'}")
      set(comma ", ")
    endif()
  endforeach()
  set(KELP_WEB_FILES "[${KELP_WEB_FILES}]")
  configure_file(${KELP_PAGE_IN} ${KELP_PAGE_OUT} @ONLY)
  return()
endif()

include_guard(GLOBAL)
set(KELP_WEB_PAGE_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

# Where the page's own files (index.html, pre.js) are: beside this file once
# installed; the framework's own build names its sources' folder.
if(NOT KELP_WEB_PAGE_DIR)
  set(KELP_WEB_PAGE_DIR ${CMAKE_CURRENT_LIST_DIR}/web)
endif()

function(kelp_web_page target)
  cmake_parse_arguments(PAGE "" "TITLE;DATA;OUTPUT" "PRE_JS;PRELOAD;LATE;DEPENDS" ${ARGN})
  if(NOT PAGE_OUTPUT)
    set(PAGE_OUTPUT ${CMAKE_BINARY_DIR}/web)
  endif()
  if(NOT PAGE_TITLE)
    set(PAGE_TITLE ${target})
  endif()
  if(NOT PAGE_DATA AND NOT PAGE_PRELOAD AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/Data)
    set(PAGE_DATA ${CMAKE_CURRENT_SOURCE_DIR}/Data)
  endif()
  set(page_in ${CMAKE_CURRENT_BINARY_DIR}/kelp-web-page/${target}.html.in)
  set(depends ${KELP_WEB_PAGE_DIR}/pre.js ${page_in} ${PAGE_PRE_JS} ${PAGE_DEPENDS})
  set(options "SHELL:--pre-js ${KELP_WEB_PAGE_DIR}/pre.js")
  foreach(file ${PAGE_PRE_JS})
    list(APPEND options "SHELL:--pre-js ${file}")
  endforeach()
  if(PAGE_DATA)
    get_filename_component(PAGE_DATA ${PAGE_DATA} ABSOLUTE)
    list(APPEND PAGE_PRELOAD ${PAGE_DATA}@/kelp/Data)
    file(GLOB_RECURSE data_files CONFIGURE_DEPENDS ${PAGE_DATA}/*)
    list(APPEND depends ${data_files})
  endif()
  foreach(pair ${PAGE_PRELOAD})
    list(APPEND options "SHELL:--preload-file ${pair}")
  endforeach()
  set(late "")
  foreach(pair ${PAGE_LATE})
    string(REGEX MATCH "^(.*)@/kelp/(.*)$" matched "${pair}")
    if(NOT matched)
      message(FATAL_ERROR "kelp_web_page LATE ${pair}: give <from>@/kelp/<path>")
    endif()
    list(APPEND options "SHELL:--exclude-file ${CMAKE_MATCH_1}")
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_MATCH_1} ${PAGE_OUTPUT}/${CMAKE_MATCH_2})
    string(APPEND late "${late_comma}{\"path\": \"/kelp/${CMAKE_MATCH_2}\", \"url\": \"${CMAKE_MATCH_2}\"}")
    set(late_comma ", ")
  endforeach()

  set_target_properties(${target} PROPERTIES
    SUFFIX .js
    RUNTIME_OUTPUT_DIRECTORY ${PAGE_OUTPUT}
    # At -O2 and above Emscripten's JS optimiser needs Debian's node modules.
    RULE_LAUNCH_LINK "${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs"
    LINK_DEPENDS "${depends}")
  target_link_options(${target} PRIVATE -sENVIRONMENT=web ${options})
  set(KELP_WEB_SCRIPT ${target}.js)
  set(KELP_WEB_LATE "[${late}]")
  # The title is text in the page, not markup.
  string(REPLACE "&" "&amp;" KELP_WEB_TITLE "${PAGE_TITLE}")
  string(REPLACE "<" "&lt;" KELP_WEB_TITLE "${KELP_WEB_TITLE}")
  string(REPLACE ">" "&gt;" KELP_WEB_TITLE "${KELP_WEB_TITLE}")
  # The page, but for its files' sizes and digests, which are known once the
  # game is linked.
  set(KELP_WEB_FILES "@KELP_WEB_FILES@")
  configure_file(${KELP_WEB_PAGE_DIR}/index.html ${page_in} @ONLY)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DKELP_PAGE_IN=${page_in} -DKELP_PAGE_OUT=${PAGE_OUTPUT}/index.html
      -DKELP_PAGE_BASE=${PAGE_OUTPUT}/${target} -P ${KELP_WEB_PAGE_SCRIPT}
    VERBATIM)
endfunction()
