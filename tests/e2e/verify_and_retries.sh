#!/usr/bin/env bash
# upgrade --verify and --retries on the ISP road. --verify: the version read
# before, the board power cycled once the box asks for it, and its new
# version after; a board that never comes back fails within the bound.
# --retries: a data line lost on the first attempt leaves the bootloader
# inside its write command; the next attempt waits for it, the board is
# power cycled when the tool asks, and the image is written whole; a refused
# image is tried once.
source "$(dirname "$0")/lib.sh"
e2e_setup
linux_side_neighbour_entry
for setting in DISABLE ENABLE; do
  write_config "$WORK/$setting" "$setting"
  write_image "$WORK/$setting" old
done
write_config "$WORK/unmarked" DISABLE
write_image "$WORK/unmarked" new
UPGRADE_OK="[KOVA Upgrade...] KOVA firmware upgrade ... Successful !"
# One file for the runs' log, where the Windows build under Wine writes too.
LOG=$WORK/verify.log
RESTART_ASKED="restart the board into it"

# 1. from the application, verified: v0.107 before; the operator power
# cycles the board after the box, which comes back with v0.108
start_board board --platform old --reboot-delay 0.2 --version 1.7 --new-version 1.8
power_cycle_when board "$WORK/out-verified" "Power Restart !"
run_cli_json "$WORK/out-verified" -m "$TOPO_BOARD_MAC" -C "$WORK/ENABLE" --log "$LOG" --verify=30 \
  upgrade
expect_rc 0
expect_event 'of("result")[-1]["version_before"], of("result")[-1]["version_after"]' \
  "('0.107', '0.108')"
expect_event '[e["text"] for e in of("message") if e["text"].startswith("Firmware")]' \
  "['Firmware v0.107 -> v0.108']"
grep -qE " ==== version before: 0\.107$" "$LOG" || fail "no version before in the log"
grep -qE " ==== version after: 0\.108$" "$LOG" || fail "no version after in the log"
# The result comes once the board is back, after the version it came with.
awk '/==== version after: / { after = NR } /==== ok, / { ok = NR }
     END { exit (after && ok > after) ? 0 : 1 }' "$LOG" || fail "the result precedes the version after"
stop_board board
expect_report board 'len(report["power_cycles"])' 1

# 2. a board that never comes back: exit 1 once the bound has passed, with
# its reason; the text run says both
start_board board --platform old --start-in bootloader --no-return
power_cycle_when board "$WORK/out-no-return" "Power Restart !"
run_cli "$WORK/out-no-return" -m "$TOPO_BOARD_MAC" -C "$WORK/DISABLE" --log "$LOG" --verify=3 upgrade
expect_rc 1
expect_line "$UPGRADE_OK"
expect_line "kova-upgrade: the board did not come back with its new firmware (no-reply-after-upgrade)"
grep -qE " ==== failed: no-reply-after-upgrade, board at 192\.168\.100\.2, [0-9.]+ s$" "$LOG" ||
  fail "the log does not say the board did not come back"
stop_board board

# 3. one data line lost on the first attempt: the bootloader takes the rest
# as data; the second attempt asks for it until the board is power cycled,
# then writes the whole image
start_board board --platform old --start-in bootloader --strict --lose-line 30 \
  --flash-file "$WORK/board.flash"
power_cycle_when board "$WORK/out-lost-line" "$RESTART_ASKED"
run_cli_json "$WORK/out-lost-line" -m "$TOPO_BOARD_MAC" -C "$WORK/DISABLE" --log "$LOG" --retries 2 \
  upgrade
expect_rc 0
expect_event '[(e["attempt"], e["of"], e["after"]) for e in of("attempt")]' "[(2, 3, 'no-reply')]"
expect_event 'len([e for e in of("message") if "Attempt 2 of 3" in e["text"]])' 1
grep -qE " ==== attempt 2 of 3 after no-reply$" "$LOG" || fail "no second attempt in the log"
stop_board board
"$PYTHON" -c '
import sys
flash, image = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
sys.exit(flash[8192:8192 + len(image)] != image)' "$WORK/board.flash" "$WORK/DISABLE/app.bin" ||
  fail "the flash differs from the image"
expect_report board 'len(report["power_cycles"]), report["isp"].get("protocol_errors", [])' \
  "(1, [])"

# 4. a refused image: one attempt, whatever --retries says
start_board board --platform old --start-in bootloader
run_cli_json "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/unmarked" --retries 2 upgrade
expect_rc 1
expect_event 'of("result")[-1]["reason"], len(of("attempt"))' "('bad-signature', 0)"
stop_board board
echo "PASS"
