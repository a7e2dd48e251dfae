#!/usr/bin/env bash
# A board that receives everything and answers nothing; and a run ended by
# SIGTERM while it waits for that board.
source "$(dirname "$0")/lib.sh"
e2e_setup
write_config "$WORK/cfg" ENABLE
write_image "$WORK/cfg" new
start_board board --silent
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/cfg" version
expect_rc 1
expect_line "[KOVA Upgrade...]  ... Failed !"
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" --ip "$TOPO_BOARD_IP" -C "$WORK/cfg" model-name
expect_rc 1
expect_line "[KOVA Upgrade...]  ... Failed !"
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/cfg" upgrade
expect_rc 1
expect_line "[KOVA Upgrade...] KOVA firmware upgrade ... Failed !"
grep -q "platform" "$LAST_OUT" && fail "a platform was reported for a silent board"
stop_board board
expect_report board '[(r["command"], r["outcome"]) for r in received]' \
  "[('FWVER_REQ', 'silent'), ('GET_MODELNAME', 'silent'), ('E2P_READ', 'silent')]"

if [ "$E2E_WINDOWS" = 1 ]; then
  # Windows stops a console program by a control event, which the Linux side
  # cannot send; Wine ends the program on SIGTERM without a clean-up.
  echo "SKIP (Windows): the run ended by SIGTERM"
  echo "PASS"
  exit 0
fi

# SIGTERM in the middle of the platform read, whose time-out is 20 ticks of
# 200 ms (as is the settle wait after the socket is made, before the read is
# sent): a clean end with status 1, well before the time-out.
start_board board --silent
TICK_MS=200
start_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/cfg" upgrade
wait_board_heard board E2P_READ
sigterm_cli 2
finish_cli
expect_rc 1
stop_board board
echo "PASS"
