# Installation (cmake --install) and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

set(KOVA_GROUP kova-upgrade)
set(KOVA_CAPS "cap_net_bind_service,cap_net_admin=ep")
set(KOVA_PROGRAM_NAMES kova-upgrade)
if(TARGET kova-upgrade-tool)
  list(APPEND KOVA_PROGRAM_NAMES kova-upgrade-tool)
endif()

install(TARGETS ${KOVA_PROGRAM_NAMES} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual page, compressed as Debian keeps them.
set(KOVA_MAN_PAGE ${CMAKE_BINARY_DIR}/man/kova-upgrade.1.gz)
add_custom_command(
  OUTPUT ${KOVA_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/doc/kova-upgrade.1 > ${KOVA_MAN_PAGE}
  DEPENDS ${PROJECT_SOURCE_DIR}/doc/kova-upgrade.1
  VERBATIM)
add_custom_target(man_page ALL DEPENDS ${KOVA_MAN_PAGE})
install(FILES ${KOVA_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

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

# The package installs under /usr; its maintainer scripts name the programs there.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(KOVA_PROGRAMS "")
foreach(name ${KOVA_PROGRAM_NAMES})
  string(APPEND KOVA_PROGRAMS " ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}")
endforeach()
string(STRIP "${KOVA_PROGRAMS}" KOVA_PROGRAMS)
foreach(script postinst postrm)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/${script}.in ${CMAKE_BINARY_DIR}/debian/${script}
                 @ONLY)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kova-upgrade)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KOVA tool maintainers <kova-tools@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upgrade tool for KOVA boards")
# CPack indents the lines and puts the summary first.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Upgrades the firmware of KOVA boards, Ethernet-attached embedded boards,
over UDP on the local segment: kova-upgrade-tool, a dialog, and
kova-upgrade, the same engine on the command line.

Both programs may be run by the members of the group kova-upgrade, with
the capabilities cap_net_admin and cap_net_bind_service instead of root.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries' packages (wx, GTK, libnl) from dpkg-shlibdeps; the tools the
# maintainer scripts call on top.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libcap2-bin")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/postinst
                                       ${CMAKE_BINARY_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
include(CPack)
