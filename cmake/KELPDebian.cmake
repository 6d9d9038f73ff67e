# A game's Debian package, made by CPack from the game's own build:
#
#   kelp_debian_package(<target> TITLE <text> DESCRIPTION <one line>
#     MAINTAINER "<name> <email>" [DATA <folder>] [ICON <png>] [VERSION <x.y.z>]
#     [LONG_DESCRIPTION <text>] [CATEGORIES <desktop categories>] [HOMEPAGE <url>])
#
# Then `cmake --build <build> --target package` writes
# <game>_<version>_<arch>.deb into the build folder, where <game> is the
# target's file name (which must make a valid package name in lower case).
# The package holds the executable as /usr/games/<game>, the folder DATA
# (default: Data beside the CMakeLists.txt) as /usr/share/games/<game>/Data,
# where the framework finds it, a desktop entry for the menus and the icon
# (a square PNG, at its size in the hicolor theme). Its Depends are the
# framework's runtime libraries, from the one list in KELPDependencies.cmake.
# VERSION defaults to the project's.
#
# The same install rules serve `cmake --install <build> --prefix P`: the game
# lands in P/games/ and its data in P/share/games/<game>/, found there too.
# A player's settings and saves go to ~/.local/share/<game>/, as the
# installed data folder cannot be written.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/KELPDependencies.cmake)

function(kelp_debian_package target)
  cmake_parse_arguments(DEB "" "TITLE;DESCRIPTION;MAINTAINER;DATA;ICON;VERSION;LONG_DESCRIPTION;HOMEPAGE"
    "CATEGORIES" ${ARGN})
  foreach(required TITLE DESCRIPTION MAINTAINER)
    if(NOT DEB_${required})
      message(FATAL_ERROR "kelp_debian_package(${target}) needs ${required}")
    endif()
  endforeach()
  if(NOT DEB_VERSION)
    set(DEB_VERSION ${PROJECT_VERSION})
  endif()
  if(NOT DEB_VERSION MATCHES "^[0-9][A-Za-z0-9.+~-]*$")
    message(FATAL_ERROR "kelp_debian_package(${target}): \"${DEB_VERSION}\" is no Debian version "
      "(set the project's VERSION or pass VERSION)")
  endif()
  if(NOT DEB_DATA)
    set(DEB_DATA ${CMAKE_CURRENT_SOURCE_DIR}/Data)
  endif()
  if(NOT DEB_CATEGORIES)
    set(DEB_CATEGORIES Game)
  endif()

  # The game's name is the executable's: the framework looks for the data
  # and names the player's folder after the file it runs from.
  get_target_property(game ${target} OUTPUT_NAME)
  if(NOT game)
    set(game ${target})
  endif()
  string(TOLOWER "${game}" package)
  if(NOT package MATCHES "^[a-z0-9][a-z0-9+.-]+$")
    message(FATAL_ERROR "kelp_debian_package(${target}): \"${package}\" is no Debian package name "
      "(letters, digits and + - . only, at least two)")
  endif()

  install(TARGETS ${target} RUNTIME DESTINATION games)
  install(DIRECTORY ${DEB_DATA}/ DESTINATION share/games/${game}/Data)

  # The menu entry names the program where it was installed, so it is
  # written at install time, for that prefix.
  list(JOIN DEB_CATEGORIES ";" categories)
  set(entry ${CMAKE_CURRENT_BINARY_DIR}/kelp-deb/${game}.desktop.in)
  file(WRITE ${entry} "[Desktop Entry]
Type=Application
Name=${DEB_TITLE}
Comment=${DEB_DESCRIPTION}
Exec=@KELP_GAME_PROGRAM@
Icon=${game}
Terminal=false
Categories=${categories};
")
  install(CODE "
    set(KELP_GAME_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/games/${game}\")
    configure_file(\"${entry}\" \"${CMAKE_CURRENT_BINARY_DIR}/kelp-deb/${game}.desktop\" @ONLY)
    file(INSTALL \"${CMAKE_CURRENT_BINARY_DIR}/kelp-deb/${game}.desktop\"
      DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/applications\")")

  if(DEB_ICON)
    get_filename_component(icon ${DEB_ICON} ABSOLUTE)
    # The PNG header's width and height choose the theme's size folder.
    file(READ ${icon} header OFFSET 0 LIMIT 24 HEX)
    string(SUBSTRING "${header}" 0 16 signature)
    if(NOT signature STREQUAL "89504e470d0a1a0a")
      message(FATAL_ERROR "kelp_debian_package(${target}): the icon ${icon} is not a PNG file")
    endif()
    string(SUBSTRING "${header}" 32 8 width)
    string(SUBSTRING "${header}" 40 8 height)
    math(EXPR width "0x${width}")
    math(EXPR height "0x${height}")
    if(NOT width EQUAL height)
      message(FATAL_ERROR "kelp_debian_package(${target}): the icon is ${width} x ${height}; it must be square")
    endif()
    install(FILES ${icon} DESTINATION share/icons/hicolor/${width}x${height}/apps RENAME ${game}.png)
  endif()

  kelp_debian_runtime_depends(depends)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME ${package})
  set(CPACK_PACKAGE_VERSION ${DEB_VERSION})
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${DEB_DESCRIPTION}")
  set(CPACK_PACKAGE_CONTACT "${DEB_MAINTAINER}")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION games)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DEB_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${depends}")
  if(DEB_HOMEPAGE)
    set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${DEB_HOMEPAGE}")
  endif()
  if(DEB_LONG_DESCRIPTION)
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${DEB_DESCRIPTION}\n${DEB_LONG_DESCRIPTION}")
  endif()
  include(CPack)
endfunction()
