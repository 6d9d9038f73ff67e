# Installing the framework: `cmake --install build --prefix P` puts the
# static library, the public headers (include/kelp/), the CMake package
# (find_package(KELP) -> KELP::kelp, with the helper for a game's Debian
# package), kelp.pc and the API manual page (kelp.3) under P, and the
# author's kit: the guide (share/doc/kelp/), the game template with its
# assets (share/kelp/templates/new-game/) and kelp-new-game (bin/), which
# starts a game from it. The browser build (EMSCRIPTEN) installs its library
# and package under P/lib/wasm32-emscripten/ instead, with the helper for a
# game's page and no kelp.pc; the headers, the page and the kit are the
# same files in both. Nothing else in the build has install rules.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KELP_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KELP)
set(KELP_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

kelp_forward_headers(kelp)
target_include_directories(kelp PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS kelp EXPORT KELPTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${KELP_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kelp)

# ---- CMake package -----------------------------------------------------------
install(EXPORT KELPTargets NAMESPACE KELP:: DESTINATION ${KELP_CMAKE_DIR})
# The package says which build it holds: a desktop game cannot link the
# browser's library, nor a page the desktop's.
if(EMSCRIPTEN)
  set(KELP_BROWSER_BUILD 1)
else()
  set(KELP_BROWSER_BUILD 0)
endif()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KELPConfig.cmake.in
  ${CMAKE_BINARY_DIR}/KELPConfig.cmake INSTALL_DESTINATION ${KELP_CMAKE_DIR})
# Before 1.0 a minor release may change the API: only the same minor matches.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KELPConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KELPConfig.cmake ${CMAKE_BINARY_DIR}/KELPConfigVersion.cmake
  DESTINATION ${KELP_CMAKE_DIR})
if(EMSCRIPTEN)
  # A game's page: the helper and the page's own files beside it.
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/KELPWebPage.cmake DESTINATION ${KELP_CMAKE_DIR})
  install(FILES ${KELP_WEB_DIR}/index.html ${KELP_WEB_DIR}/pre.js DESTINATION ${KELP_CMAKE_DIR}/web)
else()
  # The libraries to find, and a game's Debian package.
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/KELPDependencies.cmake ${CMAKE_CURRENT_LIST_DIR}/KELPDebian.cmake
    DESTINATION ${KELP_CMAKE_DIR})
endif()

# ---- pkg-config ------------------------------------------------------------------
# The library is static, so what it links is in Requires and Libs, not in
# their .private forms: a plain `pkg-config --libs kelp` must link a game.
# (The browser build has none: em++ links through the CMake package.)
if(NOT EMSCRIPTEN)
  kelp_pkg_config_fields(KELP_PC_REQUIRES KELP_PC_LIBS)
  # The prefix is the one given at install time (`cmake --install --prefix`),
  # so the file is written then; DESTDIR staging is honoured by file(INSTALL).
  set(KELP_PC_PREFIX "@KELP_PC_PREFIX@")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/kelp.pc.in ${CMAKE_BINARY_DIR}/kelp.pc.in @ONLY)
  install(CODE "
    set(KELP_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${CMAKE_BINARY_DIR}/kelp.pc.in\" \"${CMAKE_BINARY_DIR}/pkgconfig/kelp.pc\" @ONLY)
    file(INSTALL \"${CMAKE_BINARY_DIR}/pkgconfig/kelp.pc\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${KELP_PC_DIR}\")")
endif()

# ---- Manual page -------------------------------------------------------------------
# The README's API section, as kelp(3). It names where the guide and the
# template are installed, so its prefix is filled in at install time, as
# kelp.pc's is.
set(KELP_MAN_PAGE ${CMAKE_BINARY_DIR}/kelp.3.in)
add_custom_command(OUTPUT ${KELP_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -DREADME=${CMAKE_SOURCE_DIR}/README.md -DOUT=${KELP_MAN_PAGE}
    -DVERSION=${PROJECT_VERSION} -P ${CMAKE_CURRENT_LIST_DIR}/readme_to_man.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_CURRENT_LIST_DIR}/readme_to_man.cmake
  COMMENT "Writing the kelp(3) manual page from the README")
add_custom_target(kelp_man ALL DEPENDS ${KELP_MAN_PAGE})
install(CODE "
  file(READ \"${KELP_MAN_PAGE}\" page)
  string(REPLACE \"@KELP_PREFIX@\" \"\${CMAKE_INSTALL_PREFIX}\" page \"\${page}\")
  file(WRITE \"${CMAKE_BINARY_DIR}/man/kelp.3\" \"\${page}\")
  file(INSTALL \"${CMAKE_BINARY_DIR}/man/kelp.3\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man3\")")

# ---- The author's kit ------------------------------------------------------------------
# The guide, the template a game starts from (with its assets, ready to
# build against this prefix), and the command that copies it into a new
# game's folder and names its program.
install(FILES ${CMAKE_SOURCE_DIR}/docs/writing-a-game.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kelp)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/templates/new-game/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/kelp/templates/new-game
  # Builds of the template made inside the sources are not part of it.
  REGEX "/build[^/]*$" EXCLUDE)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/tools/kelp-new-game DESTINATION ${CMAKE_INSTALL_BINDIR})

# ---- The Debian package's version ------------------------------------------------------
# debian/changelog has to name the version too: it must say the same.
if(EXISTS ${CMAKE_SOURCE_DIR}/debian/changelog)
  file(STRINGS ${CMAKE_SOURCE_DIR}/debian/changelog KELP_DEB_HEAD LIMIT_COUNT 1)
  string(REGEX MATCH "\\(([^)-]+)" KELP_DEB_MATCH "${KELP_DEB_HEAD}")
  if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "debian/changelog names version \"${CMAKE_MATCH_1}\", the project ${PROJECT_VERSION}: "
      "add a changelog entry for ${PROJECT_VERSION}")
  endif()
endif()

# ---- A dependency linked past the list ------------------------------------------------
# The installed package makes only the targets cmake/KELPDependencies.cmake
# lists; anything else kelp links would break every game's find_package(KELP)
# while our own build still worked. Checked once the whole tree is read.
function(kelp_check_links)
  kelp_dependency_targets(listed)
  get_target_property(links kelp INTERFACE_LINK_LIBRARIES)
  foreach(item ${links})
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
    if(NOT item IN_LIST listed)
      message(FATAL_ERROR "kelp links ${item}, which the installed package would not find: "
        "add it to cmake/KELPDependencies.cmake and link it from there")
    endif()
  endforeach()
endfunction()
if(NOT EMSCRIPTEN AND CMAKE_VERSION VERSION_GREATER_EQUAL 3.19)
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL kelp_check_links)
endif()
