#!/usr/bin/env bash
# The Windows downloads as a user gets them (cmake --build build-windows
# --target windows_package makes both in the build directory):
#
#   installer.sh zip ZIP VERSION
#     the zip holds exactly the two programs (the build's, stripped), the
#     dialog's and wxWidgets' catalogues of every language the build has and
#     a README in Windows' line ends, in a folder named as the zip
#   installer.sh installer SETUP VERSION
#     in a Wine prefix of its own, a silent install puts the programs under
#     Program Files, the installed command line says VERSION, the Start-menu
#     shortcut starts in the firmware folder and Add/Remove Programs knows
#     the version; the uninstaller it names takes all of it away but the
#     user's firmware
#
#   KOVA_WINEPREFIX  the prefix the installer's copies (hard links) are made
#                    of (default: wine-prefix next to SETUP)
#   KOVA_STRIP       the MinGW strip (default x86_64-w64-mingw32-strip)
# Exit 77 (skipped) where the file, Wine or the prefix is missing.
set -u
mode=${1:?usage: installer.sh zip|installer FILE VERSION}
file=${2:?usage: installer.sh zip|installer FILE VERSION}
version=${3:?usage: installer.sh zip|installer FILE VERSION}
build=$(cd "$(dirname "$file")" && pwd)
name=kova-upgrade-$version-windows-x64
product="KOVA Firmware Upgrade Tool"
uninstall_key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
skip() {
  echo "skipped: $*"
  exit 77
}
[ -f "$file" ] || skip "no $file (cmake --build $build --target windows_package)"

# What the folder must hold besides the programs: one catalogue of the dialog
# and one of wxWidgets for every language the build compiled.
catalogues() {
  local mo lang
  for mo in "$build"/locale/*/LC_MESSAGES/kova-upgrade-tool.mo; do
    [ -f "$mo" ] || continue
    lang=$(basename "$(dirname "$(dirname "$mo")")")
    echo "locale/$lang/LC_MESSAGES/kova-upgrade-tool.mo"
    echo "locale/$lang/LC_MESSAGES/wxstd-3.2.mo"
  done
}

check_zip() {
  local top exe lines crlf
  [ "$(basename "$file")" = "$name.zip" ] || fail "the zip is named $(basename "$file"), not $name.zip"
  tmp=$(mktemp -d) || exit 1
  trap 'rm -rf "$tmp"' EXIT
  top=$tmp/$name
  { printf '%s\n' kova-upgrade.exe kova-upgrade-tool.exe README.txt; catalogues; } |
    sed "s|^|$name/|" | sort >"$tmp/expected"
  unzip -Z1 "$file" | grep -v '/$' | sort >"$tmp/actual"
  diff -u "$tmp/expected" "$tmp/actual" || fail "the zip does not hold exactly the files above"
  unzip -q "$file" -d "$tmp" || { fail "unzip failed"; return; }
  [ -d "$top" ] || { fail "the zip has no folder $name"; return; }

  lines=$(wc -l <"$top/README.txt")
  crlf=$(grep -c $'\r$' "$top/README.txt")
  if [ "$lines" -lt 10 ] || [ "$crlf" != "$lines" ] || [ -n "$(tail -c 1 "$top/README.txt")" ]; then
    fail "README.txt: $crlf of $lines lines end in CRLF"
  fi

  # A zip made before the last build would hold other programs. Stripped
  # with the program's time in its header, as the package has it.
  for exe in kova-upgrade.exe kova-upgrade-tool.exe; do
    SOURCE_DATE_EPOCH=$(stat -c %Y "$build/$exe") \
      "${KOVA_STRIP:-x86_64-w64-mingw32-strip}" -o "$tmp/stripped.exe" "$build/$exe" ||
      { fail "cannot strip $build/$exe"; continue; }
    cmp -s "$tmp/stripped.exe" "$top/$exe" || fail "$exe is not the build's"
  done
}

# The Windows path of a folder of the prefix the test runs in.
win_env() {
  wine cmd /c echo "%$1%" </dev/null 2>/dev/null | tr -d '\r'
}

# reg query's value of NAME under the uninstall key, or nothing.
uninstall_value() {
  wine reg query "$uninstall_key" /v "$1" /reg:64 </dev/null 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}

# True if the shortcut's UTF-16 strings hold TEXT.
link_holds() {
  local hex
  hex=$(printf '%s' "$2" | iconv -t UTF-16LE | od -An -tx1 -v | tr -d ' \n')
  od -An -tx1 -v "$1" | tr -d ' \n' | grep -q "$hex"
}

# Ends this prefix's server and removes the directory it leaves behind.
server_dir=""
stop_wine() {
  [ -n "$server_dir" ] || return 0
  wineserver -k >/dev/null 2>&1 </dev/null
  wineserver -w >/dev/null 2>&1 </dev/null
  rm -rf "/tmp/.wine-$(id -u)/$server_dir" /tmp/wine-*/"$server_dir"
}

check_installer() {
  local tool
  for tool in wine wineserver winepath; do
    command -v $tool >/dev/null || skip "Wine is not installed ($tool)"
  done
  local base=${KOVA_WINEPREFIX:-$build/wine-prefix}
  [ -f "$base/system.reg" ] || skip "no Wine prefix at $base (scripts/build-windows.sh makes it)"

  # A hard-linked copy next to the base costs no space. But the wine server
  # saves a registry file that has other links into it, not beside it: those
  # three are copies of their own. No menu entries for the host's desktop.
  work=$(mktemp -d "$(dirname "$base")/installer-test.XXXXXX") || exit 1
  export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
  trap 'stop_wine; rm -rf "$work"' EXIT
  cp -al "$base" "$WINEPREFIX" || skip "cannot link $base into $work"
  # The server's directory is named after the prefix's device and inode.
  server_dir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
  local reg
  for reg in system.reg user.reg userdef.reg; do
    cp --remove-destination "$base/$reg" "$WINEPREFIX/$reg" || exit 1
  done
  rm -rf "$WINEPREFIX/drive_c/ProgramData/kova-upgrade" "$WINEPREFIX"/drive_c/users/*/AppData/Local/kova-upgrade
  # One persistent server for all the calls below; its service processes
  # must not hold this script's output.
  wineserver -p >/dev/null 2>&1 </dev/null
  wine wineboot >/dev/null 2>&1 </dev/null

  local start=$SECONDS
  timeout 120 wine "$file" /S </dev/null || fail "the silent install failed ($?)"
  echo "install: $((SECONDS - start)) s"

  local instdir menu firmware programdata
  instdir=$(winepath -u "C:\\Program Files\\$product" 2>/dev/null)
  [ -n "$instdir" ] || { fail "winepath knows no Program Files"; return; }
  programdata=$(winepath -u "$(win_env ProgramData)" 2>/dev/null)
  menu="$programdata/Microsoft/Windows/Start Menu/Programs/$product"
  firmware=$(winepath -u "$(win_env PUBLIC)\\Documents\\KOVA Firmware" 2>/dev/null)

  { printf '%s\n' kova-upgrade.exe kova-upgrade-tool.exe README.txt uninstall.exe; catalogues; } |
    sort >"$work/expected"
  (cd "$instdir" 2>/dev/null && find . -type f | sed 's|^\./||' | sort) >"$work/actual"
  diff -u "$work/expected" "$work/actual" || fail "$instdir does not hold exactly the files above"

  local said
  said=$(timeout 60 wine "$instdir/kova-upgrade.exe" --version </dev/null 2>&1 | tr -d '\r')
  [ "$said" = "kova-upgrade $version" ] || fail "the installed kova-upgrade --version says: $said"

  local link="$menu/$product.lnk"
  if [ -f "$link" ]; then
    link_holds "$link" "Documents\\KOVA Firmware" || fail "the shortcut does not start in the firmware folder"
  else
    fail "no shortcut $link"
  fi
  [ -d "$firmware" ] || fail "no firmware folder $firmware"

  [ "$(uninstall_value DisplayVersion)" = "$version" ] ||
    fail "Add/Remove Programs has version '$(uninstall_value DisplayVersion)', not $version"
  local quiet location
  quiet=$(uninstall_value QuietUninstallString)
  location=$(uninstall_value InstallLocation)

  # The user's firmware must outlive the uninstall.
  echo "a configuration" >"$firmware/KOVA_Config.cfg"
  # The uninstaller waits only when told where it is installed (_?=, last
  # and unquoted); Wine would quote an argument with spaces, a batch file
  # passes the line as it is.
  printf '@%s _?=%s\r\n@exit /b %%ERRORLEVEL%%\r\n' "$quiet" "$location" >"$WINEPREFIX/drive_c/uninstall-test.bat"
  start=$SECONDS
  timeout 120 wine cmd /c 'C:\uninstall-test.bat' </dev/null || fail "the silent uninstall failed ($?)"
  echo "uninstall: $((SECONDS - start)) s"
  # With _?= it cannot remove itself.
  rm -f "$instdir/uninstall.exe"
  rmdir "$instdir" 2>/dev/null || fail "the uninstall left in $instdir: $(ls -A "$instdir" 2>&1)"
  [ ! -e "$menu" ] || fail "the uninstall left $menu"
  [ -f "$firmware/KOVA_Config.cfg" ] || fail "the uninstall took the user's firmware folder"
  [ -z "$(uninstall_value DisplayName)" ] || fail "the uninstall left the key $uninstall_key"
}

case $mode in
  zip) check_zip ;;
  installer) check_installer ;;
  *) echo "installer.sh: unknown mode $mode" >&2; exit 2 ;;
esac
[ "$failures" = 0 ] || exit 1
echo "ok: $mode"
