#!/usr/bin/env bash
# One operation per interface: while an upgrade runs on eth1, a second
# instance on eth1 says who holds it and exits 1 without sending anything;
# once the first has ended, the interface is free again.
source "$(dirname "$0")/lib.sh"
e2e_setup
write_config "$WORK/files" DISABLE
write_image "$WORK/files" old

# A bootloader that never answers keeps the first upgrade waiting.
start_board board --platform old --start-in bootloader --silent-bootloader
start_cli "$WORK/first" -m "$TOPO_BOARD_MAC" -C "$WORK/files" upgrade
wait_board_heard board E2P_READ
first=$CLI_PID

topo_host "$CLI" -i "$TOPO_HOST_IF" --tick-ms "$TICK_MS" -m "$TOPO_BOARD_MAC" -C "$WORK/files" \
  version >"$WORK/second" 2>"$WORK/second.err"
rc=$?
[ "$rc" -eq 1 ] || fail "the second instance exited $rc, expected 1"
grep -qE "^kova-upgrade: eth1 is in use by kova-upgrade, pid $first, since [0-9-]+ [0-9:]+; one operation per interface at a time$" \
  "$WORK/second.err" || fail "the refusal does not name the holder: $(cat "$WORK/second.err")"
[ -s "$WORK/second" ] && fail "the second instance wrote to stdout: $(cat "$WORK/second")"

LAST_OUT=$WORK/second.json
topo_host "$CLI" -i "$TOPO_HOST_IF" --json -m "$TOPO_BOARD_MAC" -C "$WORK/files" version \
  >"$LAST_OUT" 2>/dev/null
expect_valid_events "$LAST_OUT"
expect_event '[(r["ok"], r["exit"], r["reason"]) for r in of("result")]' \
  "[(False, 1, 'interface-busy')]"

finish_cli
expect_rc 1
stop_board board
expect_report board 'len(requests("FWVER_REQ"))' 0

# Free again.
start_board board --platform old
run_cli "$WORK/third" -m "$TOPO_BOARD_MAC" -C "$WORK/files" version
expect_rc 0
stop_board board
echo "PASS"
