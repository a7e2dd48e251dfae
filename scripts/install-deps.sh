#!/usr/bin/env bash
# Installs the Debian packages a build needs, when any is missing. Run as
# root on Debian 12.
#   usage: scripts/install-deps.sh [linux] [windows]   (default: linux)
# linux: the build, the tests and the demo (clang and its runtime libraries
# for the fuzz targets; gettext for the dialog's catalogues; dpkg-dev,
# debhelper, lintian, adduser, libcap2-bin, man-db and desktop-file-utils to
# build, lint, install and check the Debian package; shellcheck for the
# scripts).
# windows: the MinGW-w64 cross build and Wine to test it (the posix-threads
# compilers, GoogleTest's sources, rsvg-convert for the icon, NSIS and zip for
# the downloads, a virtual display for the dialog).
set -euo pipefail
linux=(cmake make g++ pkg-config libgtest-dev libgmock-dev libwxgtk3.2-dev libgtk-3-dev
       libnl-route-3-dev xvfb xauth x11-apps x11-utils netpbm librsvg2-common libgtk-3-bin
       iproute2 procps python3 tftp-hpa clang-format clang libclang-rt-14-dev gettext dpkg-dev
       debhelper lintian adduser libcap2-bin man-db desktop-file-utils shellcheck)
windows=(cmake make g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
         binutils-mingw-w64-x86-64 libgtest-dev wine wine64 xvfb xauth x11-apps x11-utils netpbm
         iproute2 python3 nsis zip unzip librsvg2-bin gettext)
packages=()
for set in "${@:-linux}"; do
  case $set in
    linux) packages+=("${linux[@]}") ;;
    windows) packages+=("${windows[@]}") ;;
    *) echo "usage: scripts/install-deps.sh [linux] [windows]" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
