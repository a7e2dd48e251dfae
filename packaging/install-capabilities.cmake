# Run by `cmake --install` after the programs are copied (KOVA_PROGRAMS: their
# installed paths; KOVA_GROUP, KOVA_CAPS). As root and where the group exists,
# gives them to the group, mode 0750, with the file capabilities they need, as
# the package's postinst does. Capabilities on a program that every user may
# run would let any of them load code into it (GTK honours module variables),
# so without the group nothing is changed. A staging install (DESTDIR, CPack)
# is left to the package.

if(NOT "$ENV{DESTDIR}" STREQUAL "" OR CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/")
  return()
endif()
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT uid STREQUAL "0")
  message(STATUS "Not installing as root: the programs have no capabilities (see the README)")
  return()
endif()
execute_process(COMMAND getent group ${KOVA_GROUP} RESULT_VARIABLE no_group OUTPUT_QUIET)
if(no_group)
  message(WARNING "No group ${KOVA_GROUP}: the programs were installed without capabilities. "
                  "Make it (addgroup --system ${KOVA_GROUP}) and install again.")
  return()
endif()
find_program(KOVA_SETCAP setcap PATHS /usr/sbin /sbin)
foreach(program ${KOVA_PROGRAMS})
  if(NOT EXISTS "${program}")
    continue()
  endif()
  # The owner first: a chown clears file capabilities.
  execute_process(COMMAND chown root:${KOVA_GROUP} "${program}" RESULT_VARIABLE failed)
  if(NOT failed)
    file(CHMOD "${program}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                        GROUP_EXECUTE)
  endif()
  if(NOT failed AND KOVA_SETCAP)
    execute_process(COMMAND ${KOVA_SETCAP} ${KOVA_CAPS} "${program}" RESULT_VARIABLE failed)
  endif()
  if(failed OR NOT KOVA_SETCAP)
    message(WARNING "${program}: could not give it to the group ${KOVA_GROUP} with ${KOVA_CAPS}")
  else()
    message(STATUS "${program}: root:${KOVA_GROUP} 0750, ${KOVA_CAPS}")
  endif()
endforeach()
