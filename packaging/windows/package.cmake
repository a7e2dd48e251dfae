# What a Windows user downloads: kova-upgrade-VERSION-windows-x64.zip, the
# two programs, their catalogues and a README in a folder of the same name,
# and kova-upgrade-VERSION-windows-x64-setup.exe, an installer of the same
# files. `cmake --build build-windows --target windows_package` makes both
# in the build directory; scripts/package-windows.sh builds the programs
# first. The version is the project's, here and nowhere else.
set(KOVA_PACKAGE_NAME kova-upgrade-${PROJECT_VERSION}-windows-x64)
# In the cache, where scripts/package-windows.sh reads them.
set(KOVA_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/${KOVA_PACKAGE_NAME}.zip CACHE INTERNAL "The Windows zip")
set(KOVA_PACKAGE_SETUP ${CMAKE_BINARY_DIR}/${KOVA_PACKAGE_NAME}-setup.exe CACHE INTERNAL
    "The Windows installer")

# The packaging tools run on the build host.
find_program(KOVA_MAKENSIS makensis NO_CMAKE_FIND_ROOT_PATH)
find_program(KOVA_ZIP zip NO_CMAKE_FIND_ROOT_PATH)

# Notepad before Windows 10 1809 shows a file with bare line feeds as one
# line.
set(KOVA_PACKAGE_DIR ${CMAKE_BINARY_DIR}/windows-package)
configure_file(${CMAKE_CURRENT_LIST_DIR}/README-Windows.txt ${KOVA_PACKAGE_DIR}/README.txt
               @ONLY NEWLINE_STYLE CRLF)

# The version information wants four numbers.
set(KOVA_VI_VERSION "")
foreach(part MAJOR MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    list(APPEND KOVA_VI_VERSION 0)
  else()
    list(APPEND KOVA_VI_VERSION ${PROJECT_VERSION_${part}})
  endif()
endforeach()
list(JOIN KOVA_VI_VERSION . KOVA_VI_VERSION)

set(KOVA_PACKAGE_SOURCES ${CMAKE_CURRENT_LIST_DIR})

# The dialog and the catalogues are configured after this file is read:
# the target is made once the whole directory is.
function(kova_windows_package)
  set(fail ${CMAKE_COMMAND} -E false)
  if(NOT TARGET kova-upgrade-tool)
    add_custom_target(windows_package
      COMMAND ${CMAKE_COMMAND} -E echo
              "windows_package: this build has no dialog (KOVA_BUILD_GUI is OFF); scripts/package-windows.sh builds it"
      COMMAND ${fail}
      VERBATIM)
    return()
  endif()
  if(NOT KOVA_MAKENSIS OR NOT KOVA_ZIP)
    add_custom_target(windows_package
      COMMAND ${CMAKE_COMMAND} -E echo
              "windows_package: makensis or zip is missing (apt-get install nsis zip), then configure again"
      COMMAND ${fail}
      VERBATIM)
    return()
  endif()

  set(stage ${KOVA_PACKAGE_DIR}/${KOVA_PACKAGE_NAME})
  set(nsh ${KOVA_PACKAGE_DIR}/catalogues.nsh)
  # Always made afresh when asked for: a stale file in a download costs more
  # than the seconds makensis takes.
  add_custom_target(windows_package
    COMMAND ${CMAKE_COMMAND} -DSTAGE=${stage} -DSTRIP=${CMAKE_STRIP}
            "-DPROGRAMS=$<TARGET_FILE:kova-upgrade>;$<TARGET_FILE:kova-upgrade-tool>"
            -DREADME=${KOVA_PACKAGE_DIR}/README.txt -DLOCALE=${CMAKE_BINARY_DIR}/locale
            -DWX_LOCALE=${KOVA_WX_MSW_PREFIX}/share/locale -DNSH=${nsh}
            -P ${KOVA_PACKAGE_SOURCES}/stage.cmake
    # zip adds to an archive that is there: start from none.
    COMMAND ${CMAKE_COMMAND} -E rm -f ${KOVA_PACKAGE_ZIP} ${KOVA_PACKAGE_SETUP}
    COMMAND ${CMAKE_COMMAND} -E chdir ${KOVA_PACKAGE_DIR}
            ${KOVA_ZIP} -q -r -X ${KOVA_PACKAGE_ZIP} ${KOVA_PACKAGE_NAME}
    COMMAND ${KOVA_MAKENSIS} -V2 -WX -DKOVA_VERSION=${PROJECT_VERSION}
            -DKOVA_VI_VERSION=${KOVA_VI_VERSION} -DKOVA_STAGE=${stage} -DKOVA_CATALOGUES=${nsh}
            -DKOVA_ICON=${KOVA_RC_ICON} -DKOVA_OUTFILE=${KOVA_PACKAGE_SETUP}
            ${KOVA_PACKAGE_SOURCES}/installer.nsi
    COMMAND ${CMAKE_COMMAND} -E echo "windows_package: ${KOVA_PACKAGE_ZIP}"
    COMMAND ${CMAKE_COMMAND} -E echo "windows_package: ${KOVA_PACKAGE_SETUP}"
    VERBATIM)
  add_dependencies(windows_package kova-upgrade kova-upgrade-tool windows_icon)
  if(TARGET translations)
    add_dependencies(windows_package translations)
  endif()
endfunction()
cmake_language(DEFER CALL kova_windows_package)
