#!/usr/bin/env bash
# Times the old platform's bootloader dialogue (steps 1 to 7, the whole
# region) against the emulated board in a namespace topology: first a minimal
# client that sends the same lines as fast as the board answers, then the
# engine's ISP road; prints both times and their ratio. Needs root.
# Usage: bench/isp_bench.sh BUILD_DIR [RUNS]
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: $0 BUILD_DIR [RUNS]}
runs=${2:-1}
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
  ip netns exec "$TOPO_HOST_NS" "$bench" "$1" "$TOPO_HOST_IF" "$TOPO_BOARD_IP"
  local status=$?
  kill -TERM "$board" 2>/dev/null
  wait "$board" 2>/dev/null
  board=
  return $status
}

ratios=()
for run in $(seq "$runs"); do
  minimal=$(time_one minimal) || { echo "minimal client failed"; exit 1; }
  engine=$(time_one engine) || { echo "engine failed"; exit 1; }
  ratio=$(python3 -c "print('%.2f' % ($engine / $minimal))")
  ratios+=("$ratio")
  echo "run $run: minimal client $minimal s, engine ISP road $engine s, ratio $ratio"
done
python3 -c "import statistics; print('median ratio %.2f over $runs runs' % statistics.median([${ratios[*]/%/,}]))"
