# The framework library's dependencies, listed once. Our own build, the
# installed CMake package (find_package(KELP)) and kelp.pc all take them
# from here, so a new dependency is added in this file and nowhere else.

# Dependencies with a pkg-config module, as pairs: the prefix of the imported
# target made for it (PkgConfig::<prefix>) and the module's name.
set(KELP_PKG_MODULES
  GLFW glfw3
  OPENAL openal
  VORBISFILE vorbisfile)

# The others, as kelp.pc names them (CMake finds them below).
set(KELP_PC_EXTRA_REQUIRES gl)        # OpenGL (OpenGL::GL)
set(KELP_PC_EXTRA_LIBS -llodepng -lm -pthread) # LodePNG ships no pkg-config file; loads run on a thread

# Finds every dependency and makes its imported target; sets `out_missing`
# to what could not be found (empty when all were). A function, so that the
# lookups' own variables stay out of the caller's scope; the targets are the
# directory's and outlive it.
function(kelp_find_dependencies out_missing)
  set(missing)
  find_package(PkgConfig QUIET)
  if(NOT PKG_CONFIG_FOUND)
    list(APPEND missing pkg-config)
  else()
    set(pairs ${KELP_PKG_MODULES})
    while(pairs)
      list(POP_FRONT pairs prefix module)
      if(NOT TARGET PkgConfig::${prefix})
        pkg_check_modules(${prefix} QUIET IMPORTED_TARGET ${module})
      endif()
      if(NOT TARGET PkgConfig::${prefix})
        list(APPEND missing ${module})
      endif()
    endwhile()
  endif()

  find_package(OpenGL QUIET)
  if(NOT TARGET OpenGL::GL)
    list(APPEND missing OpenGL)
  endif()

  find_package(Threads QUIET)
  if(NOT TARGET Threads::Threads)
    list(APPEND missing Threads)
  endif()

  if(NOT TARGET KELP::lodepng)
    find_path(LODEPNG_INCLUDE_DIR lodepng.h)
    find_library(LODEPNG_LIBRARY lodepng)
    if(LODEPNG_INCLUDE_DIR AND LODEPNG_LIBRARY)
      add_library(KELP::lodepng UNKNOWN IMPORTED)
      set_target_properties(KELP::lodepng PROPERTIES
        IMPORTED_LOCATION "${LODEPNG_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${LODEPNG_INCLUDE_DIR}")
    else()
      list(APPEND missing LodePNG)
    endif()
  endif()
  set(${out_missing} "${missing}" PARENT_SCOPE)
endfunction()

# What the framework library links: every target made above, and libm.
function(kelp_dependency_targets out_targets)
  set(targets)
  set(pairs ${KELP_PKG_MODULES})
  while(pairs)
    list(POP_FRONT pairs prefix module)
    list(APPEND targets PkgConfig::${prefix})
  endwhile()
  list(APPEND targets OpenGL::GL KELP::lodepng Threads::Threads m)
  set(${out_targets} "${targets}" PARENT_SCOPE)
endfunction()

# The same list as kelp.pc states it: its Requires and the rest of its Libs.
function(kelp_pkg_config_fields out_requires out_libs)
  set(requires)
  set(pairs ${KELP_PKG_MODULES})
  while(pairs)
    list(POP_FRONT pairs prefix module)
    list(APPEND requires ${module})
  endwhile()
  list(APPEND requires ${KELP_PC_EXTRA_REQUIRES})
  list(JOIN requires " " requires)
  list(JOIN KELP_PC_EXTRA_LIBS " " libs)
  set(${out_requires} "${requires}" PARENT_SCOPE)
  set(${out_libs} "${libs}" PARENT_SCOPE)
endfunction()
