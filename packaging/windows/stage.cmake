# Lays out the folder the zip holds and the installer installs, at build
# time (cmake -P). package.cmake passes:
#   STAGE     the folder to make afresh, named as the zip is
#   STRIP     the MinGW strip
#   PROGRAMS  the two .exe's, ;-separated
#   README    the README, already in Windows' line ends
#   LOCALE    the build's locale folder (LANG/LC_MESSAGES/*.mo)
#   WX_LOCALE wxWidgets' own catalogues (LANG/LC_MESSAGES/wxstd-3.2.mo)
#   NSH       the NSIS include to write, naming the catalogue files
cmake_minimum_required(VERSION 3.25)
foreach(var STAGE STRIP PROGRAMS README LOCALE WX_LOCALE NSH)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "stage.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})

# The build's programs keep their symbols for debugging; the downloads need
# none of them, and are half the size without. strip stamps the PE header
# with SOURCE_DATE_EPOCH, else the time of the strip: the program's own time
# keeps a copy the same for the same build.
foreach(program ${PROGRAMS})
  get_filename_component(name ${program} NAME)
  file(TIMESTAMP ${program} built "%s" UTC)
  set(ENV{SOURCE_DATE_EPOCH} ${built})
  execute_process(COMMAND ${STRIP} -o ${STAGE}/${name} ${program} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
file(COPY_FILE ${README} ${STAGE}/README.txt)

# One catalogue of the dialog per language, and wxWidgets' own for its
# stock buttons and messages. The uninstaller removes exactly these files,
# so that it never takes a folder it did not make.
set(install "!macro KOVA_INSTALL_CATALOGUES\n")
set(uninstall "!macro KOVA_UNINSTALL_CATALOGUES\n")
file(GLOB catalogues ${LOCALE}/*/LC_MESSAGES/kova-upgrade-tool.mo)
if(NOT catalogues)
  message(FATAL_ERROR "stage.cmake: no catalogue in ${LOCALE} (target translations)")
endif()
list(SORT catalogues)
foreach(mo ${catalogues})
  get_filename_component(dir ${mo} DIRECTORY)
  get_filename_component(lang ${dir} DIRECTORY)
  get_filename_component(lang ${lang} NAME)
  set(files ${mo})
  if(EXISTS ${WX_LOCALE}/${lang}/LC_MESSAGES/wxstd-3.2.mo)
    list(APPEND files ${WX_LOCALE}/${lang}/LC_MESSAGES/wxstd-3.2.mo)
  else()
    message(WARNING "wxWidgets has no catalogue for ${lang}: its stock texts stay English")
  endif()
  set(to ${STAGE}/locale/${lang}/LC_MESSAGES)
  file(MAKE_DIRECTORY ${to})
  string(APPEND install "  SetOutPath \"$INSTDIR\\locale\\${lang}\\LC_MESSAGES\"\n")
  foreach(file ${files})
    get_filename_component(name ${file} NAME)
    file(COPY_FILE ${file} ${to}/${name})
    string(APPEND install "  File \"${to}/${name}\"\n")
    string(APPEND uninstall "  Delete \"$INSTDIR\\locale\\${lang}\\LC_MESSAGES\\${name}\"\n")
  endforeach()
  string(APPEND uninstall "  RMDir \"$INSTDIR\\locale\\${lang}\\LC_MESSAGES\"\n"
                          "  RMDir \"$INSTDIR\\locale\\${lang}\"\n")
endforeach()
string(APPEND install "!macroend\n")
string(APPEND uninstall "  RMDir \"$INSTDIR\\locale\"\n!macroend\n")
file(WRITE ${NSH} "; Written by packaging/windows/stage.cmake.\n${install}${uninstall}")
