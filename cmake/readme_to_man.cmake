# Writes the kelp(3) manual page from the README's API section, so that the
# page and the README never disagree.
#   cmake -DREADME=README.md -DOUT=kelp.3 -DVERSION=x.y.z -P readme_to_man.cmake
# The section is the one headed "## The `KELPCore` API", up to the next
# "## " heading: paragraphs, and bullets of the form "- **Group** — text".
cmake_minimum_required(VERSION 3.16)

# Inline markdown to troff: backslashes escaped, `code` and **strong** in
# bold (a minus sign inside code, so that options copy as typed), and a link
# as its text alone (its target is a file of the sources or a heading of the
# README, neither of which a reader of the page has).
function(kelp_man_inline text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "\\[([^]]*)\\]\\([^)]*\\)" "\\1" text "${text}")
  string(REGEX REPLACE "\\*\\*([^*]+)\\*\\*" "\\\\fB\\1\\\\fR" text "${text}")
  set(result "")
  while(TRUE)
    string(FIND "${text}" "`" open)
    if(open EQUAL -1)
      break()
    endif()
    string(SUBSTRING "${text}" 0 ${open} before)
    math(EXPR after_open "${open} + 1")
    string(SUBSTRING "${text}" ${after_open} -1 rest)
    string(FIND "${rest}" "`" close)
    if(close EQUAL -1)
      break()
    endif()
    string(SUBSTRING "${rest}" 0 ${close} code)
    math(EXPR after_close "${close} + 1")
    string(SUBSTRING "${rest}" ${after_close} -1 text)
    string(REPLACE "-" "\\-" code "${code}")
    string(APPEND result "${before}\\fB${code}\\fR")
  endwhile()
  string(APPEND result "${text}")
  # A line starting with a dot or a quote would be read as a request.
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" result "${result}")
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

file(STRINGS "${README}" lines ENCODING UTF-8)
set(in_section FALSE)
set(body "")
foreach(line IN LISTS lines)
  if(line MATCHES "^## ")
    if(in_section)
      break()
    endif()
    if(line MATCHES "^## The `KELPCore` API")
      set(in_section TRUE)
    endif()
    continue()
  endif()
  if(NOT in_section)
    continue()
  endif()
  if(line STREQUAL "")
    continue()
  elseif(line MATCHES "^- \\*\\*([^*]+)\\*\\* — (.*)$")
    set(group "${CMAKE_MATCH_1}")
    kelp_man_inline("${CMAKE_MATCH_2}" text)
    string(APPEND body ".TP\n.B ${group}\n${text}\n")
  else()
    kelp_man_inline("${line}" text)
    string(APPEND body ".PP\n${text}\n")
  endif()
endforeach()
if(body STREQUAL "")
  message(FATAL_ERROR "${README} has no \"## The `KELPCore` API\" section")
endif()

file(WRITE "${OUT}" ".\\\" Generated from the README's API section; edit the README instead.
.TH KELP 3 \"\" \"KELP ${VERSION}\" \"KELP game framework\"
.SH NAME
kelp \\- KELPCore, the API of the KELP 2D game framework
.SH SYNOPSIS
.nf
.B #include <kelp/KELPCore.h>
.PP
CMake:      find_package(KELP REQUIRED)
            target_link_libraries(game PRIVATE KELP::kelp)
pkg\\-config: c++ game.cpp $(pkg\\-config \\-\\-cflags \\-\\-libs kelp) \\-o game
.fi
.SH DESCRIPTION
A game is one object deriving from
.BR KELPCore .
Every update it draws through an immediate\\-mode API (shapes, sprites, text)
and reads virtual buttons; the framework renders the result with OpenGL,
plays sound with OpenAL and keeps settings and scores in small record files.
Assets are read from
.I Data/<game number>/
beside the executable.
${body}.SH FILES
.TP
.I @KELP_PREFIX@/share/doc/kelp/writing\\-a\\-game.md
The guide: a whole game, the template, walked through call by call.
.TP
.I @KELP_PREFIX@/share/kelp/templates/new\\-game/
The template a game starts from: game.cpp, its CMakeLists.txt, its icon and
its assets (a font, a sprite sheet, an effect and looping music).
.B kelp\\-new\\-game
.I DIR
.RI [ NAME ]
copies it into the new folder
.I DIR
and names the program
.I NAME
(by default the folder's name).
.TP
.I @KELP_PREFIX@/include/kelp/KELPCore.h
The header, which documents every call.
.SH SEE ALSO
.BR pkg\\-config (1),
.BR cmake (1)
")
