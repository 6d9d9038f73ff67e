# The framework library's dependencies, listed once. Our own build, the
# installed CMake package (find_package(KELP)) and kelp.pc all take them
# from here, so a new dependency is added in this file and nowhere else.

# Dependencies with a pkg-config module, as triples: the prefix of the imported
# target made for it (PkgConfig::<prefix>), the module's name, and the Debian
# package a game built on the framework needs at run time.
set(KELP_PKG_MODULES
  GLFW glfw3 "libglfw3 (>= 3.3)"    # the gamepad API is GLFW 3.3's
  OPENAL openal libopenal1
  VORBISFILE vorbisfile libvorbisfile3)

# The others, as kelp.pc names them (CMake finds them below), and their
# Debian packages, with the C++ runtime's.
set(KELP_PC_EXTRA_REQUIRES gl)        # OpenGL (OpenGL::GL)
set(KELP_PC_EXTRA_LIBS -llodepng -lm -pthread) # LodePNG ships no pkg-config file; loads run on a thread
set(KELP_DEBIAN_EXTRA_RUNTIME
  libopengl0 libglx0                  # OpenGL::GL through GLVND: libOpenGL.so.0, libGLX.so.0
  liblodepng0                         # LodePNG
  libc6 libstdc++6 libgcc-s1)         # libm, threads, the C and C++ runtime

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
    set(triples ${KELP_PKG_MODULES})
    while(triples)
      list(POP_FRONT triples prefix module deb)
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
  set(triples ${KELP_PKG_MODULES})
  while(triples)
    list(POP_FRONT triples prefix module deb)
    list(APPEND targets PkgConfig::${prefix})
  endwhile()
  list(APPEND targets OpenGL::GL KELP::lodepng Threads::Threads m)
  set(${out_targets} "${targets}" PARENT_SCOPE)
endfunction()

# The same list as kelp.pc states it: its Requires and the rest of its Libs.
function(kelp_pkg_config_fields out_requires out_libs)
  set(requires)
  set(triples ${KELP_PKG_MODULES})
  while(triples)
    list(POP_FRONT triples prefix module deb)
    list(APPEND requires ${module})
  endwhile()
  list(APPEND requires ${KELP_PC_EXTRA_REQUIRES})
  list(JOIN requires " " requires)
  list(JOIN KELP_PC_EXTRA_LIBS " " libs)
  set(${out_requires} "${requires}" PARENT_SCOPE)
  set(${out_libs} "${libs}" PARENT_SCOPE)
endfunction()

# The same list as a Debian package's Depends field: what a game built on
# the framework needs installed to run.
function(kelp_debian_runtime_depends out_depends)
  set(packages)
  set(triples ${KELP_PKG_MODULES})
  while(triples)
    list(POP_FRONT triples prefix module deb)
    list(APPEND packages "${deb}")
  endwhile()
  list(APPEND packages ${KELP_DEBIAN_EXTRA_RUNTIME})
  list(JOIN packages ", " depends)
  set(${out_depends} "${depends}" PARENT_SCOPE)
endfunction()
