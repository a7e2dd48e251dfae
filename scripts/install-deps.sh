#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing (clang and its runtime libraries for the fuzz targets;
# gettext for the dialog's catalogues; dpkg-dev, adduser, libcap2-bin, man-db
# and desktop-file-utils to build, install and check the Debian package). Run
# as root on Debian 12.
set -euo pipefail
packages=(cmake make g++ pkg-config libgtest-dev libgmock-dev libwxgtk3.2-dev libgtk-3-dev libnl-route-3-dev
          xvfb xauth x11-apps x11-utils netpbm librsvg2-common libgtk-3-bin iproute2 procps python3 tftp-hpa
          clang-format clang libclang-rt-14-dev gettext dpkg-dev adduser libcap2-bin man-db
          desktop-file-utils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
