#!/usr/bin/env bash
# The jump to the bootloader inside `upgrade` with ENABLE: acknowledged on the
# first attempt, on the third (the board ignores two), and never (four sent).
# The application upgrade after the boot-up wait is not judged here.
source "$(dirname "$0")/lib.sh"
e2e_setup
write_config "$WORK/new" ENABLE
write_image "$WORK/new" new
write_config "$WORK/old" ENABLE
write_image "$WORK/old" old
JUMP_OK="======KOVA : Jump to Bootloader ... Successful !======"
JUMP_FAILED="======KOVA : Jump to Bootloader ... Failed !======"
BOOT_WAIT="======KOVA : Wait for boot-up ... "
ATTEMPT_TICKS=20

# BOOTLOADER requests arrive one time-out apart.
expect_attempt_spacing() {
  local gaps
  gaps=$(report_query board 'gaps("BOOTLOADER")')
  "$PYTHON" -c "import sys; gaps = $gaps; low = $ATTEMPT_TICKS * $TICK_MS / 1000 * 0.75
sys.exit(0 if all(low <= g <= 4 * low for g in gaps) else 1)" ||
    fail "BOOTLOADER requests spaced $gaps s"
}

# 1. acknowledged at once (new platform)
start_board board --platform new --reboot-delay 0.2
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/new" upgrade
[ "$CLI_RC" -ne 2 ] || fail "usage error"
expect_line "[... KOVA checkcode] New platform"
expect_line_then_prefix "$JUMP_OK" "$BOOT_WAIT"
stop_board board
expect_report board '[(r["command"], r["args"], r["outcome"]) for r in requests("E2P_READ")]' \
  "[('E2P_READ', 'FE02', 'answered')]"
expect_report board '[(r["mac"], r["outcome"]) for r in requests("BOOTLOADER")]' \
  "[('$TOPO_BOARD_MAC', 'answered')]"
expect_report board 'report["final"]["mode"]' bootloader

# 2. acknowledged on the third attempt (old platform)
start_board board --platform old --ignore-first BOOTLOADER=2 --reboot-delay 0.2
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/old" upgrade
[ "$CLI_RC" -ne 2 ] || fail "usage error"
expect_line "[... KOVA checkcode] Old platform"
expect_line_then_prefix "$JUMP_OK" "$BOOT_WAIT"
stop_board board
expect_report board '[r["outcome"] for r in requests("BOOTLOADER")]' \
  "['ignored', 'ignored', 'answered']"
expect_attempt_spacing

# 3. never acknowledged: four attempts, then the step fails
start_board board --platform new --ignore-first BOOTLOADER=4
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/new" upgrade
expect_rc 1
expect_line "$JUMP_FAILED"
grep -qF "$BOOT_WAIT" "$LAST_OUT" && fail "the boot-up wait ran after a failed jump"
expect_line "[KOVA Upgrade...] KOVA firmware upgrade ... Failed !"
stop_board board
expect_report board 'len(requests("BOOTLOADER", "ignored"))' 4
expect_report board 'len(requests("BOOTLOADER"))' 4
expect_attempt_spacing
echo "PASS"
