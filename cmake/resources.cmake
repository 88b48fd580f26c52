# The Windows resources (icons, manifest and version information) that the program's
# executable carries; the tray loads its icons from them by number. The script and
# the manifest are configured: their version numbers are the project's.
if(WIN32)
  enable_language(RC)
  set(_olvex_resources ${CMAKE_CURRENT_LIST_DIR}/../resources)
  cmake_path(NORMAL_PATH _olvex_resources)
  set(_olvex_configured ${CMAKE_BINARY_DIR}/resources)
  configure_file(${_olvex_resources}/olvex.rc.in ${_olvex_configured}/olvex.rc @ONLY)
  configure_file(${_olvex_resources}/olvex.manifest.in ${_olvex_configured}/olvex.manifest @ONLY)
  add_library(olvex_resources OBJECT ${_olvex_configured}/olvex.rc)
  # windres knows none of the compiler options set for the whole project.
  set_property(TARGET olvex_resources PROPERTY COMPILE_OPTIONS "")
  # It finds the manifest beside the script and the .ico files along the include path.
  target_include_directories(olvex_resources PRIVATE ${_olvex_configured} ${_olvex_resources})
  set_property(SOURCE ${_olvex_configured}/olvex.rc APPEND PROPERTY OBJECT_DEPENDS
               ${_olvex_resources}/icon1.ico ${_olvex_resources}/icon2.ico ${_olvex_resources}/icon3.ico
               ${_olvex_configured}/olvex.manifest)
endif()

# Links the resources into the executable `target`; does nothing off Windows.
function(olvex_add_windows_resources target)
  if(WIN32)
    target_link_libraries(${target} PRIVATE olvex_resources)
  endif()
endfunction()
