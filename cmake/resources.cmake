# The Windows resources (icons, manifest and version information) that the program's
# executable carries; the tray loads its icons from them by number.
if(WIN32)
  enable_language(RC)
  set(_olvex_resources ${CMAKE_CURRENT_LIST_DIR}/../resources)
  cmake_path(NORMAL_PATH _olvex_resources)
  add_library(olvex_resources OBJECT ${_olvex_resources}/olvex.rc)
  # windres knows none of the compiler options set for the whole project.
  set_property(TARGET olvex_resources PROPERTY COMPILE_OPTIONS "")
  # It finds the .ico files named in the script along the include path.
  target_include_directories(olvex_resources PRIVATE ${_olvex_resources})
  set_property(SOURCE ${_olvex_resources}/olvex.rc APPEND PROPERTY OBJECT_DEPENDS
               ${_olvex_resources}/icon1.ico ${_olvex_resources}/icon2.ico ${_olvex_resources}/icon3.ico
               ${_olvex_resources}/olvex.manifest)
endif()

# Links the resources into the executable `target`; does nothing off Windows.
function(olvex_add_windows_resources target)
  if(WIN32)
    target_link_libraries(${target} PRIVATE olvex_resources)
  endif()
endfunction()
