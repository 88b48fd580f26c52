# Compiles go through ccache where it is installed (tools/install-deps.sh
# installs it), so a rebuild of an unchanged file is a cache hit.
# -DOLVEX_CCACHE=OFF compiles directly.
# Not with CCACHE_BASEDIR: ccache then hands the compiler the sources' paths
# relative to the build folder (../../src/...), which -ffile-prefix-map no
# longer shortens, and the failure entries' source locations change with it.
option(OLVEX_CCACHE "Compile through ccache when it is installed" ON)
find_program(OLVEX_CCACHE_PROGRAM ccache)
if(OLVEX_CCACHE AND OLVEX_CCACHE_PROGRAM AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_C_COMPILER_LAUNCHER ${OLVEX_CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${OLVEX_CCACHE_PROGRAM})
endif()
