# shellcheck shell=bash
# Shared by the Windows scripts: the packages the cross build and Wine need,
# the build directory and its Wine prefix, and a wine server kept running so
# that a test process costs milliseconds instead of seconds.

KOVA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KOVA_WIN_BUILD=${KOVA_WIN_BUILD:-$KOVA_ROOT/build-windows}
# The prefix the unit tests run in; the end-to-end tests copy it, one copy
# per network namespace (a wine server serves the namespace it started in).
KOVA_WINEPREFIX=${KOVA_WINEPREFIX:-$KOVA_WIN_BUILD/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
# Wine would add Linux desktop menu entries for the Windows Start menu's.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winemenubuilder.exe=d}

windows_install_deps() {
  bash "$KOVA_ROOT/scripts/install-deps.sh" windows
}

# wine_prefix_ready: makes the prefix (KOVA_WINEPREFIX) once, then keeps its
# server running. The first wine call starts service processes that inherit
# stdout, so nothing of it goes to a pipe.
wine_prefix_ready() {
  local prefix=$KOVA_WINEPREFIX
  mkdir -p "$prefix"
  # The persistent server first, so that wineboot uses it; where one runs
  # already (it may be this one), it is used as it is.
  WINEPREFIX=$prefix wineserver -p >/dev/null 2>&1 </dev/null || true
  if [ ! -f "$prefix/system.reg" ]; then
    WINEPREFIX=$prefix wine wineboot -i >/dev/null 2>&1 </dev/null
  fi
  WINEPREFIX=$prefix wine wineboot >/dev/null 2>&1 </dev/null
}

# wine_prefix_copy BASE COPY: a prefix of its own for one test or one
# network namespace, in a tenth of a second: hard links to the base's files,
# but registry files of its own (Wine rewrites a registry file in place when
# it has other links, which would write into the base and every other copy).
wine_prefix_copy() {
  local base=$1 copy=$2 file
  cp -al "$base" "$copy"
  for file in system.reg user.reg userdef.reg; do
    [ -f "$base/$file" ] && cp --remove-destination "$base/$file" "$copy/$file"
  done
  return 0
}

# wine_prefix_stop: ends the server wine_prefix_ready left running.
wine_prefix_stop() {
  local prefix=$KOVA_WINEPREFIX
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 </dev/null || true
}

# windows_configure [CMAKE OPTIONS...]: the cross build, as CI builds it.
windows_configure() {
  cmake -S "$KOVA_ROOT" -B "$KOVA_WIN_BUILD" \
    -DCMAKE_TOOLCHAIN_FILE="$KOVA_ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKOVA_WERROR=ON \
    "-DCMAKE_CROSSCOMPILING_EMULATOR=env;WINEPREFIX=$KOVA_WINEPREFIX;WINEDEBUG=-all;bash;$KOVA_ROOT/tests/wine/run-program.sh" \
    "$@" >/dev/null
}
