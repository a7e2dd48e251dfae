#!/usr/bin/env bash
# Cross-builds the Windows command line (kova-upgrade.exe), the engine, the
# unit and thread tests and the ISP bench with MinGW-w64 into build-windows/,
# and readies the Wine prefix the tests run in. Run as root on Debian 12 the
# first time (it installs what is missing). The dialog is one more command:
# scripts/build-windows-gui.sh, into the same directory.
set -euo pipefail
# shellcheck source=scripts/windows-env.sh
source "$(dirname "$0")/windows-env.sh"

windows_install_deps
wine_prefix_ready
# The dialog stays as it is: on when build-windows-gui.sh turned it on.
# shellcheck disable=SC2119 # no options on purpose, for that reason
windows_configure
cmake --build "$KOVA_WIN_BUILD" -j2 --target kova-upgrade unit_tests thread_tests isp_bench
echo "built: $KOVA_WIN_BUILD/kova-upgrade.exe"
