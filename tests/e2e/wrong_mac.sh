#!/usr/bin/env bash
# A MAC that is not the board's: the board hears the request and ignores it;
# the tool fails once the reply time-out (20 ticks) has passed.
source "$(dirname "$0")/lib.sh"
e2e_setup
TICK_MS=50
write_config "$WORK/cfg" ENABLE
write_image "$WORK/cfg" new
start_board board
other_mac=00:1A:2B:3C:4D:5F
start_cli "$WORK/out" -m "$other_mac" -C "$WORK/cfg" version
wait_board_heard board FWVER_REQ
heard=$(date +%s%N)
finish_cli
waited_ms=$((($(date +%s%N) - heard) / 1000000))
expect_rc 1
expect_line "[KOVA Upgrade...]  ... Failed !"
grep -q "KOVA Application firmware" "$LAST_OUT" && fail "a version was reported"
[ "$waited_ms" -ge $((20 * TICK_MS * 9 / 10)) ] ||
  fail "failed $waited_ms ms after the request, before the time-out of 20 ticks"
stop_board board
expect_report board '[(r["command"], r["mac"], r["outcome"]) for r in received]' \
  "[('FWVER_REQ', '$other_mac', 'other-mac')]"
echo "PASS"
