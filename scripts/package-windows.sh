#!/usr/bin/env bash
# Builds what a Windows user downloads into build-windows/: both programs
# (scripts/build-windows.sh, scripts/build-windows-gui.sh), then the zip and
# the installer (target windows_package, packaging/windows/package.cmake).
# Run as root on Debian 12 the first time (the build scripts install what is
# missing). Check them with: ctest --test-dir build-windows -L wine-package
set -euo pipefail
# shellcheck source=scripts/windows-env.sh
source "$(dirname "$0")/windows-env.sh"

bash "$KOVA_ROOT/scripts/build-windows.sh"
bash "$KOVA_ROOT/scripts/build-windows-gui.sh"
cmake --build "$KOVA_WIN_BUILD" --target windows_package

cache=$KOVA_WIN_BUILD/CMakeCache.txt
zip=$(sed -n 's/^KOVA_PACKAGE_ZIP:INTERNAL=//p' "$cache")
setup=$(sed -n 's/^KOVA_PACKAGE_SETUP:INTERNAL=//p' "$cache")
stage=$KOVA_WIN_BUILD/windows-package/$(basename "$zip" .zip)
for file in "$KOVA_WIN_BUILD/kova-upgrade.exe" "$KOVA_WIN_BUILD/kova-upgrade-tool.exe" \
            "$stage/kova-upgrade.exe" "$stage/kova-upgrade-tool.exe" "$zip" "$setup"; do
  [ -f "$file" ] || { echo "package-windows: $file is missing" >&2; exit 1; }
  printf '%10s bytes  %s\n' "$(stat -c %s "$file")" "$file"
done
