#!/usr/bin/env bash
# The unicast commands through --ip: read the model name, set it to the
# fixed "QX-204", read it back, dump the EEPROM.
source "$(dirname "$0")/lib.sh"
e2e_setup
write_config "$WORK/cfg" ENABLE
write_image "$WORK/cfg" new
# Random content ending in the new platform's check code, which the board
# keeps in its last two cells.
"$PYTHON" -c 'import os, sys; open(sys.argv[1], "wb").write(os.urandom(254) + b"\xaa\x55")' \
  "$WORK/eeprom.bin"
start_board board --model-name KV-100 --eeprom-file "$WORK/eeprom.bin"

hex16() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n' | tr a-f A-F; }
name_line() { # the trace line of a 16-byte model name
  local hex
  hex=$(hex16 "$1")
  printf '      %s%s' "$hex" "$(printf '0%.0s' $(seq $((32 - ${#hex}))))"
}

run_cli "$WORK/out" -v -m "$TOPO_BOARD_MAC" --ip "$TOPO_BOARD_IP" -C "$WORK/cfg" model-name
expect_rc 0
expect_line_then_prefix "    KOVA MODEL NAME[16] =" "$(name_line KV-100)"
expect_line "$(name_line KV-100)"
expect_sockets_closed

run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" --ip "$TOPO_BOARD_IP" -C "$WORK/cfg" set-model-name
expect_rc 0
expect_no_line "[KOVA Upgrade...]  ... Failed !"

run_cli "$WORK/out" -v -m "$TOPO_BOARD_MAC" --ip "$TOPO_BOARD_IP" -C "$WORK/cfg" model-name
expect_rc 0
expect_line "$(name_line QX-204)"

run_cli "$WORK/out" -v -m "$TOPO_BOARD_MAC" --ip "$TOPO_BOARD_IP" -C "$WORK/cfg" eeprom
expect_rc 0
expect_sockets_closed
# The board's EEPROM, 16 lines of 16 bytes, right after the dump's header.
od -An -tx1 -v -w16 "$WORK/eeprom.bin" | tr -d ' ' | tr a-f A-F | sed 's/^/    /' >"$WORK/expected"
grep -A16 -xF "    KOVA EEPROM[256] =" "$LAST_OUT" | tail -n 16 >"$WORK/dumped"
diff "$WORK/expected" "$WORK/dumped" >/dev/null ||
  fail "EEPROM dump differs: $(diff "$WORK/expected" "$WORK/dumped" | head)"

stop_board board
expect_report board '[r["command"] for r in received]' \
  "['GET_MODELNAME', 'SET_MODELNAME', 'GET_MODELNAME', 'GET_E2P256']"
expect_report board '{(r["to"], r["outcome"]) for r in received}' "{('$TOPO_BOARD_IP', 'answered')}"
# "QX-204" and its 0x00; the 0xFF that ends the argument is not sent.
expect_report board 'requests("SET_MODELNAME")[0]["args"]' "51582D32303400"
echo "PASS"
