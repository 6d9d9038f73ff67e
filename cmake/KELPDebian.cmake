# A game's Debian package, made by CPack from the game's own build:
#
#   kelp_debian_package(<target> TITLE <text> DESCRIPTION <one line>
#     MAINTAINER "<name> <email>" [DATA <folder>] [ICON <png>] [VERSION <x.y.z>]
#     [LONG_DESCRIPTION <text>] [CATEGORIES <desktop categories>] [HOMEPAGE <url>]
#     [COPYRIGHT "<years> <holder>"] [LICENSE <name> [LICENSE_FILE <file>]]
#     [CHANGELOG <file>] [MANUAL <file>])
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
# Every package also carries what an archive asks of one, in
# /usr/share/doc/<package>/: its copyright file (in Debian's machine-readable
# format) and its changelog, compressed. COPYRIGHT defaults to this year and
# the maintainer's name. LICENSE names the licence: one of Debian's common
# licences (/usr/share/common-licenses: GPL-3+, Apache-2.0, CC0-1.0 ...) is
# referred to there; any other needs its text in LICENSE_FILE. Without
# LICENSE the copyright says all rights are reserved, which is what it means
# when no licence is given. CHANGELOG is the game's own changelog in
# Debian's format; without it the package's has one entry, for its version.
# The program has a manual page, /usr/share/man/man6/<game>.6.gz: MANUAL, a
# page of the game's own (troff, man macros), or one made from TITLE,
# DESCRIPTION and LONG_DESCRIPTION with the framework's keys and where the
# player's files go. LONG_DESCRIPTION defaults to a line naming the title.
#
# The same install rules serve `cmake --install <build> --prefix P`: the game
# lands in P/games/ and its data in P/share/games/<game>/, found there too.
# A player's settings and saves go to ~/.local/share/<game>/, as the
# installed data folder cannot be written.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/KELPDependencies.cmake)

function(kelp_debian_package target)
  cmake_parse_arguments(DEB ""
    "TITLE;DESCRIPTION;MAINTAINER;DATA;ICON;VERSION;LONG_DESCRIPTION;HOMEPAGE;COPYRIGHT;LICENSE;LICENSE_FILE;CHANGELOG;MANUAL"
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
  # An archive wants more than the one line of the synopsis.
  if(NOT DEB_LONG_DESCRIPTION)
    set(DEB_LONG_DESCRIPTION "${DEB_TITLE} is a game made with the KELP 2D game framework.")
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

  kelp_debian_documents(${target} ${package} ${game})

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
  # CPack puts the summary first, as the synopsis line.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${DEB_LONG_DESCRIPTION}")
  include(CPack)
endfunction()

# The package's copyright file, changelog and manual page (see above), from
# the arguments kelp_debian_package parsed into DEB_*.
function(kelp_debian_documents target package game)
  set(docs ${CMAKE_CURRENT_BINARY_DIR}/kelp-deb/doc)
  file(MAKE_DIRECTORY ${docs})
  # The maintainer's name without the address.
  string(REGEX REPLACE " *<[^>]*> *$" "" maintainer_name "${DEB_MAINTAINER}")
  # (A reproducible build's SOURCE_DATE_EPOCH dates these.)
  string(TIMESTAMP year "%Y" UTC)
  string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  if(NOT DEB_COPYRIGHT)
    set(DEB_COPYRIGHT "${year} ${maintainer_name}")
  endif()

  # ---- copyright -----------------------------------------------------------------
  # A licence text as a field's continuation lines: each line indented by a
  # space, an empty line as " .".
  set(common_dir /usr/share/common-licenses)
  if(DEB_LICENSE_FILE)
    if(NOT DEB_LICENSE)
      message(FATAL_ERROR "kelp_debian_package(${target}): LICENSE_FILE needs LICENSE, the licence's short name")
    endif()
    file(READ ${DEB_LICENSE_FILE} text)
    string(REGEX REPLACE "[ \t\r]*\n" "\n" text "${text}")
    string(REGEX REPLACE "^\n+|\n+$" "" text "${text}")
    # Twice: each pass marks every other one of several empty lines.
    string(REPLACE "\n\n" "\n.\n" text "${text}")
    string(REPLACE "\n\n" "\n.\n" text "${text}")
    string(REPLACE "\n" "\n " text "${text}")
    set(text " ${text}\n")
  elseif(DEB_LICENSE)
    # GPL-3+ and the like: the file of the version named.
    string(REGEX REPLACE "\\+$" "" common "${DEB_LICENSE}")
    if(NOT EXISTS ${common_dir}/${common})
      message(FATAL_ERROR "kelp_debian_package(${target}): LICENSE ${DEB_LICENSE} is not one of ${common_dir}: "
        "give its text in LICENSE_FILE")
    endif()
    set(text " On Debian systems the complete text of this licence is in ${common_dir}/${common}.\n")
  else()
    set(DEB_LICENSE all-rights-reserved)
    set(text " All rights reserved: no licence to copy, change or share this game is given.\n")
  endif()
  set(source "")
  if(DEB_HOMEPAGE)
    set(source "Source: ${DEB_HOMEPAGE}\n")
  endif()
  file(WRITE ${docs}/copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${DEB_TITLE}
Upstream-Contact: ${DEB_MAINTAINER}
${source}
Files: *
Copyright: ${DEB_COPYRIGHT}
License: ${DEB_LICENSE}
Comment: The game is built on the KELP framework, which is linked into it.

License: ${DEB_LICENSE}
${text}")
  install(FILES ${docs}/copyright DESTINATION share/doc/${package})

  # ---- changelog -----------------------------------------------------------------
  # A version without a Debian revision is a native package's: its
  # changelog is changelog.gz, else changelog.Debian.gz. Compressed without
  # a name or a time in its header, so that the same sources make the same
  # package.
  if(DEB_CHANGELOG)
    get_filename_component(changelog ${DEB_CHANGELOG} ABSOLUTE)
  else()
    set(changelog ${docs}/changelog)
    file(WRITE ${changelog} "${package} (${DEB_VERSION}) unstable; urgency=medium

  * Packaged with kelp_debian_package.

 -- ${DEB_MAINTAINER}  ${date}
")
  endif()
  if(DEB_VERSION MATCHES "-")
    set(name changelog.Debian.gz)
  else()
    set(name changelog.gz)
  endif()
  find_program(KELP_GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${docs}/${name}
    COMMAND ${KELP_GZIP} -9nc ${changelog} > ${docs}/${name}
    DEPENDS ${changelog}
    COMMENT "Compressing the package's changelog")
  install(FILES ${docs}/${name} DESTINATION share/doc/${package})

  # ---- manual page ---------------------------------------------------------------
  if(DEB_MANUAL)
    get_filename_component(manual ${DEB_MANUAL} ABSOLUTE)
  else()
    set(manual ${docs}/${game}.6)
    # Text as troff reads it: backslashes escaped, no line starting a request.
    set(fields DEB_TITLE DEB_DESCRIPTION DEB_LONG_DESCRIPTION)
    foreach(field ${fields})
      string(REPLACE "\\" "\\e" ${field} "${${field}}")
      string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" ${field} "${${field}}")
    endforeach()
    string(TOUPPER "${game}" upper)
    string(REPLACE "-" "\\-" game_text "${game}")
    file(WRITE ${manual} ".TH ${upper} 6 \"\" \"${DEB_VERSION}\" \"Games\"
.SH NAME
${game_text} \\- ${DEB_DESCRIPTION}
.SH SYNOPSIS
.B ${game_text}
.SH DESCRIPTION
${DEB_LONG_DESCRIPTION}
.PP
${DEB_TITLE} opens a window; the keyboard, the mouse and gamepads play it.
.SH KEYS
Unless the game turns them off:
.TP
.B F4
quits (as does closing the window).
.TP
.B F11
switches between the window and the full screen.
.TP
.B F10
saves a screenshot beside the player's saves.
.TP
.B F1
shows the frame rates.
.SH FILES
.TP
.I /usr/share/games/${game_text}/Data/
The game's images and sounds.
.TP
.I ~/.local/share/${game_text}/
The player's settings, saves and screenshots (under
.B $XDG_DATA_HOME
when it is set).
")
  endif()
  add_custom_command(OUTPUT ${docs}/${game}.6.gz
    COMMAND ${KELP_GZIP} -9nc ${manual} > ${docs}/${game}.6.gz
    DEPENDS ${manual}
    COMMENT "Compressing the game's manual page")
  add_custom_target(${target}_debian_documents ALL DEPENDS ${docs}/${name} ${docs}/${game}.6.gz)
  install(FILES ${docs}/${game}.6.gz DESTINATION share/man/man6)
endfunction()
