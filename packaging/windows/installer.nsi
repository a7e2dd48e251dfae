; The installer of the KOVA Firmware Upgrade Tool for 64-bit Windows.
; packaging/windows/package.cmake runs makensis with what changes per build:
;   KOVA_VERSION      the project's version
;   KOVA_VI_VERSION   the same in four numbers, as the version information wants
;   KOVA_STAGE        the folder the zip holds: the programs and the README
;   KOVA_CATALOGUES   the include that installs and removes the catalogues
;   KOVA_ICON         the dialog's icon
;   KOVA_OUTFILE      the installer to write

Unicode true
; A 64-bit installer: 32-bit Windows refuses to start it, and on 64-bit
; Windows it sees the real System32 and the 64-bit registry, no redirection.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinVer.nsh

!define PRODUCT "KOVA Firmware Upgrade Tool"
!define PUBLISHER "KOVA"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The dialog reads KOVA_Config.cfg and the images from its working folder,
; which must be one its users can write to: Program Files is not.
!define FIRMWARE_DIR "$DOCUMENTS\KOVA Firmware"
!define MENU_DIR "$SMPROGRAMS\${PRODUCT}"
!define PROMPT_LINK "KOVA Firmware Command Prompt.lnk"
!define CLI_RULE "${PRODUCT}: kova-upgrade (UDP in)"
!define GUI_RULE "${PRODUCT}: kova-upgrade-tool (UDP in)"

Name "${PRODUCT} ${KOVA_VERSION}"
OutFile "${KOVA_OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${KOVA_VERSION}"

!define MUI_ICON "${KOVA_ICON}"
!define MUI_UNICON "${KOVA_ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

LangString OldWindows ${LANG_ENGLISH} "${PRODUCT} needs Windows 7 or later."
LangString OldWindows ${LANG_GERMAN} "${PRODUCT} benötigt Windows 7 oder neuer."
LangString NoFirewallRule ${LANG_ENGLISH} "No Windows Firewall rule was added (netsh failed): allow inbound UDP for the programs by hand."
LangString NoFirewallRule ${LANG_GERMAN} "Keine Regel der Windows-Firewall angelegt (netsh schlug fehl): eingehendes UDP für die Programme selbst erlauben."

VIProductVersion "${KOVA_VI_VERSION}"
VIFileVersion "${KOVA_VI_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${KOVA_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} ${KOVA_VERSION} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${KOVA_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PUBLISHER}"

!include "${KOVA_CATALOGUES}"

; A failing netsh (no firewall service, or Wine's) leaves the install as it
; is: the rule can be added by hand, as the README says.
!macro KOVA_ALLOW_UDP_IN RULE PROGRAM
  ; A reinstall, to this folder or another, replaces the rule of the last.
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${RULE}"'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${RULE}" dir=in action=allow program="${PROGRAM}" protocol=UDP profile=any enable=yes'
  Pop $0
  ${If} $0 != 0
    DetailPrint "$(NoFirewallRule) ($0)"
  ${EndIf}
!macroend

!macro KOVA_REMOVE_RULE RULE PROGRAM
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${RULE}" program="${PROGRAM}"'
  Pop $0
!macroend

Function .onInit
  ${IfNot} ${AtLeastWin7}
    MessageBox MB_OK|MB_ICONSTOP "$(OldWindows)" /SD IDOK
    Abort
  ${EndIf}
  ; The shortcuts and the firmware folder are every user's.
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section
  SetOutPath "$INSTDIR"
  File "${KOVA_STAGE}/kova-upgrade.exe"
  File "${KOVA_STAGE}/kova-upgrade-tool.exe"
  File "${KOVA_STAGE}/README.txt"
  !insertmacro KOVA_INSTALL_CATALOGUES
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; A shortcut starts in the output folder of the moment it is made.
  SetOutPath "${FIRMWARE_DIR}"
  CreateDirectory "${MENU_DIR}"
  CreateShortcut "${MENU_DIR}\${PRODUCT}.lnk" "$INSTDIR\kova-upgrade-tool.exe"
  ; cmd runs the line after /k once its outer quotes go; the cd because an
  ; elevated cmd may start in System32 whatever the shortcut says.
  CreateShortcut "${MENU_DIR}\${PROMPT_LINK}" "$SYSDIR\cmd.exe" \
    '/k "cd /d "${FIRMWARE_DIR}" & set "PATH=$INSTDIR;%PATH%" & kova-upgrade --version"'
  SetOutPath "$INSTDIR"

  !insertmacro KOVA_ALLOW_UDP_IN "${CLI_RULE}" "$INSTDIR\kova-upgrade.exe"
  !insertmacro KOVA_ALLOW_UDP_IN "${GUI_RULE}" "$INSTDIR\kova-upgrade-tool.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${KOVA_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\kova-upgrade-tool.exe",0'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  !insertmacro KOVA_REMOVE_RULE "${CLI_RULE}" "$INSTDIR\kova-upgrade.exe"
  !insertmacro KOVA_REMOVE_RULE "${GUI_RULE}" "$INSTDIR\kova-upgrade-tool.exe"

  Delete "${MENU_DIR}\${PRODUCT}.lnk"
  Delete "${MENU_DIR}\${PROMPT_LINK}"
  RMDir "${MENU_DIR}"
  ; What is in the firmware folder is the user's: it goes only when empty.
  RMDir "${FIRMWARE_DIR}"

  Delete "$INSTDIR\kova-upgrade.exe"
  Delete "$INSTDIR\kova-upgrade-tool.exe"
  Delete "$INSTDIR\README.txt"
  !insertmacro KOVA_UNINSTALL_CATALOGUES
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
