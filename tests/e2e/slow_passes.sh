#!/usr/bin/env bash
# The EEPROM read at the slowest pass delay with the real 100 ms tick: the
# 260-byte reply arrives at once and must be read well inside the 20-tick
# time-out, however long each pass sleeps.
source "$(dirname "$0")/lib.sh"
e2e_setup
write_config "$WORK/cfg" ENABLE
write_image "$WORK/cfg" new
"$PYTHON" -c 'import os, sys; open(sys.argv[1], "wb").write(os.urandom(254) + b"\xaa\x55")' \
  "$WORK/eeprom.bin"
start_board board --eeprom-file "$WORK/eeprom.bin"
TICK_MS=100
for delay in 19 10; do
  run_cli "$WORK/out" -v -d "$delay" -m "$TOPO_BOARD_MAC" --ip "$TOPO_BOARD_IP" -C "$WORK/cfg" eeprom
  expect_rc 0
  od -An -tx1 -v -w16 "$WORK/eeprom.bin" | tr -d ' ' | tr a-f A-F | sed 's/^/    /' \
    >"$WORK/expected"
  grep -A16 -xF "    KOVA EEPROM[256] =" "$LAST_OUT" | tail -n 16 >"$WORK/dumped"
  diff "$WORK/expected" "$WORK/dumped" >/dev/null || fail "delay $delay: the EEPROM dump differs"
done
stop_board board
expect_report board '[(r["command"], r["outcome"]) for r in received]' \
  "[('GET_E2P256', 'answered'), ('GET_E2P256', 'answered')]"
echo "PASS"
