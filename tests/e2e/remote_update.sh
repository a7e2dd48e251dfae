#!/usr/bin/env bash
# The remote update of a running board (REMOTE): an S-record file of real
# size handed over line by line and installed; a count record sent before
# the end record; completion reported only on the second status poll; a
# board that refuses to erase; files without their end record or with a
# record broken, refused before anything is sent.
source "$(dirname "$0")/lib.sh"
e2e_setup
UPGRADE_OK="[KOVA Upgrade...] KOVA firmware upgrade ... Successful !"
UPGRADE_FAILED="[KOVA Upgrade...] KOVA firmware upgrade ... Failed !"

write_config "$WORK/big" REMOTE
write_srecords "$WORK/big" 3000
write_config "$WORK/small" REMOTE
write_srecords "$WORK/small" 40
write_config "$WORK/counted" REMOTE
write_srecords "$WORK/counted" 40 count

# 1. S0, 3000 S3 records, S7: erased first, installed after the last line
start_board board
started=$EPOCHREALTIME
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/big" upgrade
echo "3002 lines: $("$PYTHON" -c "print(round($EPOCHREALTIME - $started, 1))")s"
expect_rc 0
expect_line "======KOVA : Remote firmware update ... Start !======"
expect_line "======KOVA : Retrieve remote IP ... $TOPO_BOARD_IP !======"
expect_line "======KOVA : Send file to remote ... Successful !======"
expect_line "======KOVA : Wait for remote finish ... Successful !======"
expect_line "$UPGRADE_OK"
expect_no_line "======KOVA Firmware Upgrade ... start !======"
stop_board board
expect_lines_as_in_file board "$WORK/big"
expect_report board 'report["remote"]["erases"], report["remote"]["updates"]' "([0], [3002])"
expect_report board 'report["remote"]["polls"]' 1

# 2. the board has finished only when asked the second time; the count
# record goes before the end record, which is sent too
start_board board --update-done-poll 2
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/counted" upgrade
expect_rc 0
expect_line "======KOVA : Wait for remote finish ... Successful !======"
stop_board board
expect_lines_as_in_file board "$WORK/counted"
expect_report board 'report["remote"]["lines"][-2][:2], report["remote"]["updates"]' "('S5', [43])"
# (The strict board also misses the polls that come while it restarts.)
expect_report board '(report["remote"]["polls"],
  [r["outcome"] for r in requests("CHECK_REMOTE_UPDATE") if r["outcome"] != "restarting"])' \
  "(2, ['busy', 'answered'])"

# 3. a board that refuses to erase gets no line
start_board board --refuse REMOTE_ERASE=1
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/small" upgrade
expect_rc 1
expect_line "======KOVA : Erase remote FLASH ... Failed !======"
expect_line "$UPGRADE_FAILED"
stop_board board
expect_report board 'report["remote"]["lines"], len(requests("SEND_FILE")), report["remote"]["updates"]' \
  "([], 0, [])"

# 4. files without their end record or with a record broken: each refused
# by its line and reason before anything is sent
start_board board
while read -r kind refusal; do
  write_config "$WORK/$kind" REMOTE
  write_srecords "$WORK/$kind" 40 "$kind"
  run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/$kind" upgrade
  expect_rc 1
  expect_line "======KOVA : Remote firmware update ... Start !======Failed !======"
  expect_line "    Firmware file $refusal !"
  expect_line "$UPGRADE_FAILED"
done <<'CASES'
none line 42: no end record
checksum line 3: wrong checksum
digit line 3: bad hexadecimal digit
byte-count line 3: wrong byte count
after-end line 43: text after the end record
wrong-count line 42: wrong record count
CASES
stop_board board
expect_report board 'len(received)' 0
echo "PASS"
