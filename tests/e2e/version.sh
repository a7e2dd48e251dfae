#!/usr/bin/env bash
# Get Version: the version bytes of the board's reply, as the operator sees
# them in the message list and the box; the request goes out by broadcast.
source "$(dirname "$0")/lib.sh"
e2e_setup
write_config "$WORK/cfg" ENABLE
write_image "$WORK/cfg" new

# board version bytes | text after the letter v
cases=(
  "1.7        0.107"
  "0x12.0x34  1.234"
  "0xAB.0xCD  A.BCD"
)
for row in "${cases[@]}"; do
  read -r bytes text <<<"$row"
  start_board board --version "$bytes"
  run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/cfg" version
  expect_rc 0
  expect_line "======Load upgarde file ... Successful !======"
  expect_line "KOVA Application firmware is v$text !"
  expect_line "[... KOVA firmware version] KOVA Application firmware is v$text !"
  [ "$(grep -cxF "KOVA Application firmware is v$text !" "$LAST_OUT")" -eq 1 ] ||
    fail "the version line is not shown exactly once"
  expect_no_line "[KOVA Upgrade...]  ... Failed !"
  stop_board board
  expect_report board '[(r["command"], r["mac"], r["to"], r["outcome"]) for r in received]' \
    "[('FWVER_REQ', '$TOPO_BOARD_MAC', '255.255.255.255', 'answered')]"
done

# The same with traces: every socket the run made, it closed.
start_board board
run_cli "$WORK/out" -v -m "$TOPO_BOARD_MAC" -C "$WORK/cfg" version
expect_rc 0
expect_sockets_closed
stop_board board
echo "PASS"
