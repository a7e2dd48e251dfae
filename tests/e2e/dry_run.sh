#!/usr/bin/env bash
# upgrade --dry-run on both platforms: the files are checked and the board
# found (version and platform through the broadcast commands), the steps an
# upgrade would take are printed, and the board receives nothing else: no
# jump, no magic packet, no ISP line, no erase, no write. A mismatched image
# fails the dry run as it would fail the upgrade.
source "$(dirname "$0")/lib.sh"
e2e_setup
for platform in new old; do
  write_config "$WORK/$platform" ENABLE
  write_image "$WORK/$platform" "$platform"
done
write_config "$WORK/old-disable" DISABLE
write_image "$WORK/old-disable" old

# expect_untouched NAME: the board heard only the two read requests.
expect_untouched() {
  stop_board "$1"
  expect_report "$1" 'sorted({r.get("command") for r in received})' "['E2P_READ', 'FWVER_REQ']"
  expect_report "$1" '[m["mode"] for m in report["modes"]][1:]' "[]"
  expect_report "$1" 'report.get("netboot", {}).get("magic_packets", 0)' 0
  expect_report "$1" 'len(report.get("isp", {}).get("erases", [])), len(report.get("isp", {}).get("copies", []))' \
    "(0, 0)"
}

# board options                     | files       | road        | jump  | steps
cases=(
  "--platform=new                     new           boot-server   True    6"
  "--platform=old                     old           isp           True    6"
  "--platform=old,--start-in=bootloader old-disable isp           False   4"
)
for row in "${cases[@]}"; do
  read -r options files road jump steps <<<"$row"
  # shellcheck disable=SC2086
  start_board board ${options//,/ }
  run_cli_json "$WORK/out.json" -m "$TOPO_BOARD_MAC" -C "$WORK/$files" --dry-run upgrade
  expect_rc 0
  expect_event '[(p["road"], p["jump"], len(p["steps"])) for p in of("plan")]' \
    "[('$road', $jump, $steps)]"
  expect_event '[e["phase"] for e in of("phase")]' "['load', 'identify', 'done']"
  expect_event '[(r["ok"], r["reason"], r["address"]) for r in of("result")]' \
    "[(True, None, '192.168.100.2')]"
  expect_event 'of("plan")[0]["version"]' "0.107"
  expect_untouched board
done

# As text, for people: the board, the configuration and numbered steps.
start_board board --platform=old
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/old" --dry-run upgrade
expect_rc 0
expect_line "Dry run: nothing that changes the board was sent."
expect_line "Board $TOPO_BOARD_MAC: old platform, firmware v0.107, at 192.168.100.2"
expect_line "  6. remove the neighbour entry"
expect_line "  5. program 516096 bytes in 504 blocks of 1 KiB"
expect_no_line "======KOVA Firmware Upgrade ... start !======"
expect_untouched board

# The new platform's image on an old board: the dry run fails as the
# upgrade would, with the reason.
start_board board --platform=old
run_cli_json "$WORK/out.json" -m "$TOPO_BOARD_MAC" -C "$WORK/new" --dry-run upgrade
expect_rc 1
expect_event '[(r["ok"], r["reason"]) for r in of("result")]' "[(False, 'bad-signature')]"
expect_event 'len(of("plan"))' 0
stop_board board
expect_report board '[r.get("command") for r in received]' "['E2P_READ']"
echo "PASS"
