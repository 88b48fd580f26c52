# Compiles go through ccache where it is installed (tools/install-deps.sh
# installs it), so a rebuild of an unchanged file, in any checkout, is a cache
# hit. CCACHE_BASEDIR makes the checkout's own paths relative in the cache's
# key, as -ffile-prefix-map does in the output. -DOLVEX_CCACHE=OFF compiles
# directly.
option(OLVEX_CCACHE "Compile through ccache when it is installed" ON)
find_program(OLVEX_CCACHE_PROGRAM ccache)
if(OLVEX_CCACHE AND OLVEX_CCACHE_PROGRAM AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(launcher ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} ${OLVEX_CCACHE_PROGRAM})
  set(CMAKE_C_COMPILER_LAUNCHER ${launcher})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${launcher})
endif()
