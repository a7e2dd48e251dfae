#!/usr/bin/env bash
# Builds the Windows dialog (kova-upgrade-tool.exe) into build-windows/: first
# wxWidgets for MSW from Debian's source (scripts/build-wx-msw.sh, cached
# outside the tree and reused), then the dialog against it, sharing the
# objects scripts/build-windows.sh compiled.
set -euo pipefail
# shellcheck source=scripts/windows-env.sh
source "$(dirname "$0")/windows-env.sh"

windows_install_deps
wx_prefix=$(bash "$KOVA_ROOT/scripts/build-wx-msw.sh")
wine_prefix_ready
windows_configure -DKOVA_BUILD_GUI=ON -DKOVA_WX_MSW_PREFIX="$wx_prefix"
cmake --build "$KOVA_WIN_BUILD" -j2 --target kova-upgrade-tool press_button
echo "built: $KOVA_WIN_BUILD/kova-upgrade-tool.exe"
