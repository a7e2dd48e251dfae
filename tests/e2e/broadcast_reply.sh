#!/usr/bin/env bash
# A board that answers to 255.255.255.255 at the tool's port instead of to
# the tool's address: both sockets still take its replies.
source "$(dirname "$0")/lib.sh"
e2e_setup
write_config "$WORK/cfg" ENABLE
write_image "$WORK/cfg" new
start_board board --answer-broadcast --model-name BCAST-1
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/cfg" version
expect_rc 0
expect_line "KOVA Application firmware is v0.107 !"
expect_line "[... KOVA firmware version] KOVA Application firmware is v0.107 !"

run_cli "$WORK/out" -v -m "$TOPO_BOARD_MAC" --ip "$TOPO_BOARD_IP" -C "$WORK/cfg" model-name
expect_rc 0
expect_line "      $(printf 'BCAST-1' | od -An -tx1 | tr -d ' \n' | tr a-f A-F)000000000000000000"
stop_board board
expect_report board '[(r["command"], r["reply_to"].split(":")[0]) for r in received]' \
  "[('FWVER_REQ', '255.255.255.255'), ('GET_MODELNAME', '255.255.255.255')]"
echo "PASS"
