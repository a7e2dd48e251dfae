#!/usr/bin/env bash
# The demo, on a fresh Debian 12 as root: builds what is missing, makes a
# small network of namespaces with one emulated KOVA board on it, and runs
# the operator's commands against that board with kova-upgrade. Everything it
# makes is removed at the end, whatever happens; its operations are logged
# with the demo's files, not in the user's own log.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j2 --target kova-upgrade

# shellcheck source=tests/e2e/topology.sh
source tests/e2e/topology.sh
if ! topo_possible; then
  echo "The demo needs root and network namespaces (ip netns)." >&2
  exit 1
fi

work=$(mktemp -d)
board_pid=
cleanup() {
  if [ -n "$board_pid" ]; then
    kill -TERM "$board_pid" 2>/dev/null || true
    wait "$board_pid" 2>/dev/null || true
  fi
  topo_remove
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
export XDG_STATE_HOME=$work/state

topo_create
printf '[KOVA_CFG_START]\r\n3\r\nENABLE\r\napp.bin\r\nbl.bin\r\nupbl.bin\r\n[KOVA_CFG_END]\r\n' \
  >"$work/KOVA_Config.cfg"
python3 -c 'import sys; image = bytearray(0x800); image[0x13E:0x140] = b"\xaa\x55"
open(sys.argv[1], "wb").write(image)' "$work/app.bin"

ip netns exec "$TOPO_BOARD_NS" python3 tools/board-sim/board_sim.py --mac "$TOPO_BOARD_MAC" \
  --ip "$TOPO_BOARD_IP" --platform new --version 0x01.0x07 --model-name KV-100 \
  --ready-file "$work/board.ready" --verbose 2>"$work/board.log" &
board_pid=$!
for _ in $(seq 100); do
  [ -s "$work/board.ready" ] && break
  sleep 0.05
done
[ -s "$work/board.ready" ] || { echo "the emulated board did not start" >&2; exit 1; }

cat <<EOF

The network: this PC (namespace $TOPO_HOST_NS) has its default route on eth0 and
the board's segment on $TOPO_HOST_IF ($TOPO_HOST_IP/24). The emulated board (namespace
$TOPO_BOARD_NS) has MAC $TOPO_BOARD_MAC and address $TOPO_BOARD_IP, firmware 0x01 0x07
and the model name KV-100.
EOF

kova() {
  echo "\$ kova-upgrade -i $TOPO_HOST_IF -m $TOPO_BOARD_MAC $*"
  local status=0
  ip netns exec "$TOPO_HOST_NS" build/kova-upgrade -i "$TOPO_HOST_IF" -m "$TOPO_BOARD_MAC" \
    -C "$work" "$@" || status=$?
  echo "(exit status $status)"
}

title() { printf '\n=== %s\n' "$1"; }

title "The adapters kova-upgrade sees"
ip netns exec "$TOPO_HOST_NS" build/kova-upgrade --list-interfaces
title "Get Version"
kova version
title "Config Reset"
kova config-reset
title "Read the model name"
kova --ip "$TOPO_BOARD_IP" model-name
title "Set the model name (the tool always writes QX-204)"
kova --ip "$TOPO_BOARD_IP" set-model-name
title "Read the model name again"
kova --ip "$TOPO_BOARD_IP" model-name
title "What an upgrade would do (a dry run: nothing that changes the board is sent)"
kova --dry-run upgrade
title "The workstation's checks"
echo "\$ kova-upgrade -i $TOPO_HOST_IF doctor"
ip netns exec "$TOPO_HOST_NS" build/kova-upgrade -i "$TOPO_HOST_IF" -C "$work" doctor || true
title "What the board received"
cat "$work/board.log"
