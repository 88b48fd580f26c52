# Header-only libraries come from Debian's archive. The cross build must not see
# all of /usr/include (glibc headers break the MinGW compiler), so it gets a
# generated folder that holds only these libraries.
set(OLVEX_SYSTEM_INCLUDE /usr/include CACHE PATH "Where Debian's library headers are")

add_library(olvex_third_party INTERFACE)
target_compile_definitions(olvex_third_party INTERFACE FMT_HEADER_ONLY=1)

if(CMAKE_CROSSCOMPILING)
  set(_olvex_vendor_include ${CMAKE_BINARY_DIR}/third_party/include)
  foreach(_lib nlohmann fmt)
    if(NOT EXISTS ${OLVEX_SYSTEM_INCLUDE}/${_lib})
      message(FATAL_ERROR "${OLVEX_SYSTEM_INCLUDE}/${_lib} is missing: install nlohmann-json3-dev and libfmt-dev")
    endif()
    file(COPY ${OLVEX_SYSTEM_INCLUDE}/${_lib} DESTINATION ${_olvex_vendor_include})
  endforeach()
  target_include_directories(olvex_third_party SYSTEM INTERFACE ${_olvex_vendor_include})
else()
  find_package(nlohmann_json 3.11 REQUIRED)
  find_package(fmt 9 REQUIRED)
  target_link_libraries(olvex_third_party INTERFACE nlohmann_json::nlohmann_json fmt::fmt-header-only)
endif()

find_package(Threads REQUIRED)

# System libraries the backends link with.
add_library(olvex_platform_libraries INTERFACE)
if(WIN32)
  # windowscodecs: the Windows Imaging Component; uuid: the GUIDs of its
  # interfaces, formats and classes.
  target_link_libraries(olvex_platform_libraries INTERFACE setupapi windowscodecs ole32 uuid runtimeobject)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBUDEV REQUIRED IMPORTED_TARGET libudev)
  pkg_check_modules(LIBJPEG REQUIRED IMPORTED_TARGET libjpeg)
  pkg_check_modules(LIBPNG REQUIRED IMPORTED_TARGET libpng)
  # MPRIS players over the session bus; volume through the PulseAudio client
  # library (PipeWire's pulse server answers it too).
  pkg_check_modules(SDBUSCPP REQUIRED IMPORTED_TARGET sdbus-c++)
  pkg_check_modules(LIBPULSE REQUIRED IMPORTED_TARGET libpulse)
  target_link_libraries(olvex_platform_libraries INTERFACE PkgConfig::LIBUDEV PkgConfig::LIBJPEG PkgConfig::LIBPNG
                                                           PkgConfig::SDBUSCPP PkgConfig::LIBPULSE)
endif()

if(OLVEX_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    # The cross compiler has no GoogleTest of its own: build Debian's sources.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    # Its own build defines GTest::gtest, GTest::gtest_main and GTest::gmock.
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

if(OLVEX_BUILD_BENCH AND NOT WIN32)
  find_package(benchmark REQUIRED)
endif()
