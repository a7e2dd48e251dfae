#!/usr/bin/env bash
# Config Reset: the board acknowledges E2P_DEFAULT.
source "$(dirname "$0")/lib.sh"
e2e_setup
write_config "$WORK/cfg" DISABLE
write_image "$WORK/cfg" new
start_board board
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/cfg" config-reset
expect_rc 0
expect_line "KOVA Configuration default !"
expect_line "[... KOVA Configuare] KOVA Configuration default !"
expect_no_line "[KOVA Upgrade...]  ... Failed !"
stop_board board
expect_report board '[(r["command"], r["mac"], r["to"], r["outcome"]) for r in received]' \
  "[('E2P_DEFAULT', '$TOPO_BOARD_MAC', '255.255.255.255', 'answered')]"

# An acknowledgement that never comes is a failure, not a reset.
start_board board --ignore-first E2P_DEFAULT=1
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/cfg" config-reset
expect_rc 1
expect_line "[KOVA Upgrade...]  ... Failed !"
expect_no_line "KOVA Configuration default !"
stop_board board
echo "PASS"
