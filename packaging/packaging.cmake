# Installation (cmake --install), which the Debian package (debian/) uses too.
include(GNUInstallDirs)

set(KOVA_GROUP kova-upgrade)
set(KOVA_CAPS "cap_net_bind_service,cap_net_admin=ep")
set(KOVA_PROGRAM_NAMES kova-upgrade)
if(TARGET kova-upgrade-tool)
  list(APPEND KOVA_PROGRAM_NAMES kova-upgrade-tool)
endif()

install(TARGETS ${KOVA_PROGRAM_NAMES} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual pages, with the program's version on their title line and
# compressed as Debian keeps them; a page edited makes CMake run again.
set(KOVA_MAN_PAGES "")
foreach(name ${KOVA_PROGRAM_NAMES})
  set(source ${PROJECT_SOURCE_DIR}/doc/${name}.1)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(REPLACE "\"kova-upgrade\" \"User Commands\""
                 "\"kova-upgrade ${PROJECT_VERSION}\" \"User Commands\"" text "${text}")
  file(WRITE ${CMAKE_BINARY_DIR}/man/${name}.1 "${text}")
  set(page ${CMAKE_BINARY_DIR}/man/${name}.1.gz)
  add_custom_command(
    OUTPUT ${page}
    COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/man/${name}.1 > ${page}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND KOVA_MAN_PAGES ${page})
endforeach()
add_custom_target(man_page ALL DEPENDS ${KOVA_MAN_PAGES})
install(FILES ${KOVA_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TARGET kova-upgrade-tool)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/kova-upgrade-tool.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/kova-upgrade-tool.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# Group, mode and capabilities of an install made as root (the package's
# postinst does the same).
set(KOVA_INSTALLED_PROGRAMS "")
foreach(name ${KOVA_PROGRAM_NAMES})
  list(APPEND KOVA_INSTALLED_PROGRAMS "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}")
endforeach()
install(CODE "
  set(KOVA_PROGRAMS \"${KOVA_INSTALLED_PROGRAMS}\")
  set(KOVA_GROUP ${KOVA_GROUP})
  set(KOVA_CAPS ${KOVA_CAPS})
  include(\"${CMAKE_CURRENT_LIST_DIR}/install-capabilities.cmake\")")
