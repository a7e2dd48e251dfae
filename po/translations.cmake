# The dialog's translations: `cmake --build build --target pot` writes the
# template to build/po/; every po/LANG.po is compiled into
# build/locale/LANG/LC_MESSAGES/, where the dialog in the build tree finds it,
# and installed under share/locale.
set(KOVA_TEXT_DOMAIN kova-upgrade-tool)
find_program(KOVA_XGETTEXT xgettext)
find_program(KOVA_MSGFMT msgfmt)

if(KOVA_XGETTEXT)
  add_custom_target(pot
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/po
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/make-pot.sh
            ${CMAKE_BINARY_DIR}/po/${KOVA_TEXT_DOMAIN}.pot ${PROJECT_VERSION}
    COMMENT "Writing po/${KOVA_TEXT_DOMAIN}.pot"
    VERBATIM)
endif()

if(KOVA_XGETTEXT AND KOVA_MSGFMT AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME translations_catalogue COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-catalogues.sh)
  set_tests_properties(translations_catalogue PROPERTIES LABELS unit TIMEOUT 60)
endif()

if(NOT KOVA_MSGFMT)
  message(STATUS "msgfmt not found: no translations (scripts/install-deps.sh installs gettext)")
  return()
endif()
file(GLOB KOVA_PO_FILES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.po)
set(KOVA_MO_FILES "")
foreach(po ${KOVA_PO_FILES})
  get_filename_component(lang ${po} NAME_WE)
  set(dir ${CMAKE_BINARY_DIR}/locale/${lang}/LC_MESSAGES)
  set(mo ${dir}/${KOVA_TEXT_DOMAIN}.mo)
  add_custom_command(
    OUTPUT ${mo}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${KOVA_MSGFMT} --check -o ${mo} ${po}
    DEPENDS ${po}
    VERBATIM)
  list(APPEND KOVA_MO_FILES ${mo})
  install(FILES ${mo} DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${lang}/LC_MESSAGES)
endforeach()
add_custom_target(translations ALL DEPENDS ${KOVA_MO_FILES})
