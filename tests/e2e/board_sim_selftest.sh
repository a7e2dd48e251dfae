#!/usr/bin/env bash
# The emulated board alone: every reply frame, its filters and options,
# probed by a small client in the host namespace.
source "$(dirname "$0")/lib.sh"
e2e_setup
KOVA_SIM=$SIM KOVA_PYTHON=$PYTHON TOPO_BOARD_NS=$TOPO_BOARD_NS TOPO_HOST_IF=$TOPO_HOST_IF \
  TOPO_BOARD_IP=$TOPO_BOARD_IP TOPO_HOST_IP=$TOPO_HOST_IP TOPO_BOARD_MAC=$TOPO_BOARD_MAC \
  topo_host "$PYTHON" -B "$E2E_DIR/board_sim_selftest.py" || fail "the simulator's self-test failed"
echo "PASS"
