#!/usr/bin/env bash
# Times the old platform's bootloader dialogue (steps 1 to 7, the whole
# region) against the emulated board in a namespace topology: first a minimal
# client that sends the same lines as fast as the board answers, then the
# engine's ISP road; prints both times and their ratio. Given the Windows
# build too (scripts/build-windows.sh), also the Windows engine's road under
# Wine, in the same namespace, and what Wine costs over Linux. Needs root.
# Usage: bench/isp_bench.sh BUILD_DIR [RUNS [WINDOWS_BUILD_DIR]]
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: $0 BUILD_DIR [RUNS [WINDOWS_BUILD_DIR]]}
runs=${2:-1}
windows=${3:-}
bench=$build/isp_bench
sim=$here/../tools/board-sim/board_sim.py
[ -x "$bench" ] || { echo "no $bench"; exit 2; }
# shellcheck source=tests/e2e/topology.sh
source "$here/../tests/e2e/topology.sh"
topo_possible || { echo "SKIP: cannot create network namespaces"; exit 77; }
work=$(mktemp -d)
board=
cleanup() {
  [ -n "$board" ] && kill -TERM "$board" 2>/dev/null && wait "$board" 2>/dev/null
  local prefix
  for prefix in "$work"/wine/*/; do
    [ -f "$prefix/system.reg" ] && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  done
  topo_remove
  rm -rf "$work"
}
trap cleanup EXIT
topo_create || exit 1

# time_one MODE: one dialogue against a freshly started board; prints seconds.
time_one() {
  rm -f "$work/ready"
  ip netns exec "$TOPO_BOARD_NS" python3 "$sim" --mac "$TOPO_BOARD_MAC" --ip "$TOPO_BOARD_IP" \
    --platform old --start-in bootloader --ready-file "$work/ready" 2>"$work/board.log" &
  board=$!
  for _ in $(seq 100); do
    [ -s "$work/ready" ] && break
    sleep 0.05
  done
  if [ "$1" = windows ]; then
    # The same engine built for Windows, in a Wine prefix of this namespace's
    # own; its start is not timed, only the dialogue, as for the others.
    ip netns exec "$TOPO_HOST_NS" env KOVA_WINDOWS_EXE="$windows/isp_bench.exe" \
      KOVA_WINEPREFIX="$windows/wine-prefix" KOVA_WINE_PREFIXES="$work/wine" \
      bash "$here/../tests/wine/kova-upgrade-wine.sh" engine "$TOPO_HOST_IF" "$TOPO_BOARD_IP" |
      tr -d '\r'
  else
    ip netns exec "$TOPO_HOST_NS" "$bench" "$1" "$TOPO_HOST_IF" "$TOPO_BOARD_IP"
  fi
  local status=${PIPESTATUS[0]}
  kill -TERM "$board" 2>/dev/null
  wait "$board" 2>/dev/null
  board=
  return "$status"
}

if [ -n "$windows" ]; then
  [ -f "$windows/isp_bench.exe" ] || { echo "no $windows/isp_bench.exe"; exit 2; }
  command -v wine >/dev/null || { echo "SKIP: no wine"; exit 77; }
fi
ratios=()
wine_ratios=()
for run in $(seq "$runs"); do
  minimal=$(time_one minimal) || { echo "minimal client failed"; exit 1; }
  engine=$(time_one engine) || { echo "engine failed"; exit 1; }
  ratio=$(python3 -c "print('%.2f' % ($engine / $minimal))")
  ratios+=("$ratio")
  line="run $run: minimal client $minimal s, engine ISP road $engine s, ratio $ratio"
  if [ -n "$windows" ]; then
    win=$(time_one windows) || { echo "the Windows engine failed"; exit 1; }
    wine_ratio=$(python3 -c "print('%.2f' % ($win / $engine))")
    wine_ratios+=("$wine_ratio")
    line+="; Windows engine under Wine $win s, $wine_ratio x Linux's"
  fi
  echo "$line"
done
python3 -c "import statistics; print('median ratio %.2f over $runs runs' % statistics.median([${ratios[*]/%/,}]))"
if [ -n "$windows" ]; then
  python3 -c "import statistics; print('median Wine / Linux %.2f over $runs runs' % statistics.median([${wine_ratios[*]/%/,}]))"
fi
