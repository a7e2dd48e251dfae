#!/usr/bin/env bash
# A batch on a production bench: three old-platform boards on one segment,
# each in its bootloader (DISABLE), one of them silent. Each board gets its
# own load, neighbour entry and clean-up; the summary names every board; the
# exit status is 1 unless every board succeeded; --keep-going decides
# whether the boards after a failure run. Each board's lines follow a header
# naming it, a failed one ends with why; the same board twice is refused
# before any board hears a thing.
export E2E_SEGMENT_BOARDS=3
source "$(dirname "$0")/lib.sh"
e2e_setup
write_config "$WORK/files" DISABLE
write_image "$WORK/files" old
MAC1=${TOPO_BOARD_MACS[0]}
MAC2=${TOPO_BOARD_MACS[1]}
MAC3=${TOPO_BOARD_MACS[2]}

start_boards() {
  start_board_at board1 "${TOPO_BOARD_NSES[0]}" "$MAC1" --platform old --start-in bootloader
  start_board_at board2 "${TOPO_BOARD_NSES[1]}" "$MAC2" --platform old --start-in bootloader \
    --silent
  start_board_at board3 "${TOPO_BOARD_NSES[2]}" "$MAC3" --platform old --start-in bootloader
}

# 1. Without --keep-going the silent board stops the batch: the third board
# is skipped and hears nothing.
start_boards
run_cli_json "$WORK/stop.json" -m "$MAC2" -m "$MAC3" -C "$WORK/files" upgrade
expect_rc 1
expect_event '[(b["mac"], b["result"], b["reason"]) for b in of("summary")[0]["boards"]]' \
  "[('$MAC2', 'failed', 'no-reply'), ('$MAC3', 'skipped', None)]"
expect_event 'of("summary")[0]["exit"]' 1
grep -qxF "kova-upgrade: warning: board $MAC2 failed; the rest of the batch is skipped (--keep-going goes on)" \
  "$WORK/stop.json.err" || fail "no word of the skipped boards on stderr"
stop_board board3
expect_report board3 'all(r["outcome"] == "other-mac" for r in received)' True

# 2. With --keep-going, from a MAC file: each board in turn; the two that
# answer are programmed whole, the summary table lists all three.
start_board_at board3 "${TOPO_BOARD_NSES[2]}" "$MAC3" --platform old --start-in bootloader
printf '# bench 4, tray A\r\n%s\n\n  %s  # the silent one\n%s\n' "$MAC1" "${MAC2//:/-}" "$MAC3" \
  >"$WORK/macs"
run_cli "$WORK/out" --mac-file "$WORK/macs" -C "$WORK/files" upgrade --keep-going
expect_rc 1
for i in 1 2 3; do
  mac=MAC$i
  expect_line "=== $i/3 ${!mac^^} ==="
done
expect_line "kova-upgrade: failed: the board did not answer (no-reply)"
[ "$(grep -c '^kova-upgrade: failed: ' "$WORK/out")" -eq 1 ] || fail "not one failure line"
grep -cxF "[KOVA Upgrade...] KOVA firmware upgrade ... Successful !" "$WORK/out" |
  grep -qx 2 || fail "not two upgrades succeeded"
awk '/^MAC +ADDRESS +RESULT +REASON +TIME$/ { table = 1; next } table { print $1, $2, $3, $4 }' \
  "$WORK/out" >"$WORK/summary"
printf '%s\n' "$MAC1 192.168.100.2 ok -" "$MAC2 192.168.100.2 failed no-reply" \
  "$MAC3 192.168.100.2 ok -" | diff - "$WORK/summary" || fail "summary table differs"
for board in board1 board2 board3; do
  stop_board "$board"
done
for board in board1 board3; do
  expect_report "$board" 'len(report["isp"]["copies"]), report["isp"]["mismatched_copies"]' \
    "(504, 0)"
done
expect_report board2 'sorted({r.get("command") for r in received})' "['E2P_READ']"

# 3. The same board twice, spelt two ways: a usage error naming both places,
# and nothing sent.
start_board_at board1 "${TOPO_BOARD_NSES[0]}" "$MAC1" --platform old --start-in bootloader
printf '%s\n' "${MAC1//:/}" >"$WORK/again"
run_cli "$WORK/twice" -m "$MAC1" --mac-file "$WORK/again" -C "$WORK/files" upgrade
expect_rc 2
expect_line "kova-upgrade: duplicate MAC address: ${MAC1^^} (-m $MAC1 and $WORK/again:1)"
expect_line "Try 'kova-upgrade --help'"
stop_board board1
expect_report board1 'len(received)' 0
echo "PASS"
