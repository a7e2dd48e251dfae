# The Windows programs' resources: the icon (drawn from the same SVG as on
# Linux), the version information and the one application manifest.
enable_language(RC)
find_program(KOVA_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(KOVA_PYTHON3 python3 REQUIRED)

string(REPLACE "." "," KOVA_VERSION_COMMAS "${PROJECT_VERSION}")
set(KOVA_VERSION_4 "${PROJECT_VERSION}")
set(KOVA_WIN_RES_DIR ${CMAKE_BINARY_DIR}/windows-resources)
set(KOVA_RC_MANIFEST ${KOVA_WIN_RES_DIR}/kova-upgrade.manifest)
configure_file(${CMAKE_CURRENT_LIST_DIR}/kova-upgrade.manifest.in ${KOVA_RC_MANIFEST} @ONLY)

set(KOVA_RC_ICON ${KOVA_WIN_RES_DIR}/kova-upgrade-tool.ico)
set(KOVA_ICON_PNGS "")
set(KOVA_ICON_COMMANDS "")
foreach(size 16 24 32 48 64 256)
  set(png ${KOVA_WIN_RES_DIR}/icon-${size}.png)
  list(APPEND KOVA_ICON_PNGS ${png})
  list(APPEND KOVA_ICON_COMMANDS COMMAND ${KOVA_RSVG_CONVERT} -w ${size} -h ${size}
       -o ${png} ${PROJECT_SOURCE_DIR}/packaging/kova-upgrade-tool.svg)
endforeach()
add_custom_command(
  OUTPUT ${KOVA_RC_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KOVA_WIN_RES_DIR}
  ${KOVA_ICON_COMMANDS}
  COMMAND ${KOVA_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/make_ico.py ${KOVA_RC_ICON} ${KOVA_ICON_PNGS}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/kova-upgrade-tool.svg
          ${CMAKE_CURRENT_LIST_DIR}/make_ico.py
  VERBATIM)
add_custom_target(windows_icon DEPENDS ${KOVA_RC_ICON})

# kova_windows_resources(TARGET DESCRIPTION CONSOLE|GUI): a GUI program also
# gets the toolkit's own resources (its cursors and bitmaps), but not its
# manifest: the one above holds what the toolkit's would.
function(kova_windows_resources target description kind)
  set(KOVA_RC_PROGRAM ${target})
  set(KOVA_RC_DESCRIPTION "${description}")
  if(kind STREQUAL "GUI")
    set(KOVA_RC_TOOLKIT "#define wxUSE_NO_MANIFEST 1\n#include \"wx/msw/wx.rc\"")
  else()
    set(KOVA_RC_TOOLKIT "")
  endif()
  set(rc ${KOVA_WIN_RES_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${KOVA_RC_ICON};${KOVA_RC_MANIFEST}")
  target_sources(${target} PRIVATE ${rc})
  add_dependencies(${target} windows_icon)
  if(kind STREQUAL "GUI")
    # windres reads wx.rc from the toolkit's headers.
    get_target_property(wx_includes kova_wx INTERFACE_INCLUDE_DIRECTORIES)
    target_include_directories(${target} PRIVATE ${wx_includes})
  endif()
endfunction()
