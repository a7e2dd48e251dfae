#!/usr/bin/env bash
# The platform check before an upgrade: the board's check code decides the
# platform, the image must carry that platform's mark, and nothing is sent
# to the board's application when it does not. An erased check code (FF FF)
# is an old-platform board that answered, not a board that did not.
source "$(dirname "$0")/lib.sh"
e2e_setup
for platform in new old; do
  write_config "$WORK/$platform" ENABLE
  write_image "$WORK/$platform" "$platform"
done

# board options            | image | platform shown | the jump runs
cases=(
  "--platform=new            new     New  yes"
  "--platform=old            old     Old  yes"
  "--check-code=FFFF         old     Old  yes"
  "--platform=new            old     New  no"
  "--platform=old            new     Old  no"
)
for row in "${cases[@]}"; do
  read -r options image shown jumps <<<"$row"
  start_board board "$options" --reboot-delay 0.2
  run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/$image" upgrade
  expect_line "$shown platform"
  expect_line "[... KOVA checkcode] $shown platform"
  stop_board board
  if [ "$jumps" = yes ]; then
    expect_line "======KOVA : Jump to Bootloader ... Successful !======"
    expect_report board 'len(requests("BOOTLOADER", "answered"))' 1
  else
    expect_rc 1
    expect_line "[KOVA Upgrade...] KOVA firmware upgrade ... Failed !"
    grep -qF "Jump to Bootloader" "$LAST_OUT" && fail "$row: the jump ran with a mismatched image"
    expect_report board 'len(requests("BOOTLOADER"))' 0
  fi
done
echo "PASS"
