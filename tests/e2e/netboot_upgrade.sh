#!/usr/bin/env bash
# The application upgrade of a new-platform board through the boot server:
# woken from its application by the magic packet (DISABLE) or sent to its
# network bootloader first (ENABLE), it takes its address by BOOTP and reads
# the image by TFTP; the image it received is compared byte for byte to the
# one the tool loaded. The wake-up and the BOOTP reply leave by the board's
# card only, never by the card the default route is on. Then the same with
# datagrams lost both ways, and once more beside another machine's DHCP
# requests.
source "$(dirname "$0")/lib.sh"
e2e_setup
linux_side_neighbour_entry
# A multiple of 512 bytes (the transfer ends with an empty block), and not.
write_config "$WORK/DISABLE" DISABLE
write_new_image "$WORK/DISABLE" 2048
write_config "$WORK/ENABLE" ENABLE
write_new_image "$WORK/ENABLE" 5000
write_config "$WORK/lossy" DISABLE
write_new_image "$WORK/lossy" 20000
UPGRADE_OK="[KOVA Upgrade...] KOVA firmware upgrade ... Successful !"
# The bootloader's own waits (BOOTP 1 s, TFTP 2 s) shortened with the tick.
BOARD_OPTIONS=(--platform new --reboot-delay 0.2 --image-file "$WORK/board.img"
  --time-scale "$("$PYTHON" -c "print($TICK_MS / 100)")")

elapsed_since() {
  "$PYTHON" -c "print(round($EPOCHREALTIME - $1, 1))"
}

# expect_served DIR MODES: the upgrade succeeded, and the board, having gone
# through MODES (mode, reason), holds the image of DIR, read with the
# addresses and the file name the BOOTP reply gave it from the server's. The
# strict board then restarts into its new application.
expect_served() {
  local modes=$2
  expect_rc 0
  expect_line "$UPGRADE_OK"
  if [ "$E2E_STRICT" = 1 ]; then
    modes="${modes%]}, ('application', 'restart')]"
    for _ in $(seq 100); do
      grep -qF "now in the application (restart)" "$WORK/board.log" && break
      sleep 0.05
    done
  fi
  stop_board board
  cmp -s "$WORK/board.img" "$WORK/$1/app.bin" || fail "the image the board received differs"
  expect_report board '([(m["mode"], m["reason"]) for m in report["modes"]],
    [report["netboot"][k] for k in ("complete", "address", "server", "file")],
    report["netboot"]["tftp_server"].split(":")[0])' \
    "($modes, [True, '$TOPO_BOARD_IP', '$TOPO_HOST_IP', 'firmware.bin'], '$TOPO_HOST_IP')"
}

# The datagrams the host sent through the chosen card to ports 9 and 68, in
# order: "magic" (30 bytes to everyone), "reply" (a 300-byte BOOTP reply from
# port 67 to everyone) or what else it was.
wake_and_reply() {
  watch_query chosen '" ".join(
  "magic" if (s["dport"], s["dst"], s["length"]) == (9, "255.255.255.255", 30) else
  "reply" if (s["sport"], s["dport"], s["dst"], s["length"]) == (67, 68, "255.255.255.255", 300)
  else repr(s)
  for s in seen if s["dir"] == "out" and s["dport"] in (9, 68))'
}

# 1. DISABLE: the platform mark is read from the application, which the magic
# packet then restarts into its bootloader; both cards are watched meanwhile.
start_board board "${BOARD_OPTIONS[@]}"
start_watch first eth0
start_watch chosen "$TOPO_HOST_IF"
started=$EPOCHREALTIME
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/DISABLE" upgrade
echo "DISABLE upgrade: exit $CLI_RC after $(elapsed_since "$started")s"
stop_watch first
stop_watch chosen
# Nothing of the run left by the first card. On the chosen one, the magic
# packet until the first BOOTP reply, and a reply for each request.
leaked=$(watch_query first 'sorted({(s["src"], s["sport"], s["dst"], s["dport"], s["length"])
  for s in seen if s["dir"] == "out"})')
[ "$leaked" = "[]" ] || fail "datagrams left by the first card: $leaked"
sent=$(wake_and_reply)
[[ "$sent" =~ ^(magic )+reply( reply)*$ ]] || fail "sent through $TOPO_HOST_IF: $sent"
grep -qF "Jump to Bootloader" "$LAST_OUT" && fail "the jump ran with DISABLE"
expect_served DISABLE "[('application', 'start'), ('bootloader', 'magic')]"
expect_report board 'report["netboot"]["bootp_requests"]' "$(grep -o reply <<<"$sent" | wc -l)"

# 2. ENABLE: the jump and the boot-up wait first; the bootloader, entered by
# the command, waits for the magic packet before it asks for an address. The
# other chip's name in the request.
start_board board "${BOARD_OPTIONS[@]}" --chip tiva
started=$EPOCHREALTIME
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/ENABLE" upgrade
echo "ENABLE upgrade: exit $CLI_RC after $(elapsed_since "$started")s"
expect_line "======KOVA : Jump to Bootloader ... Successful !======"
expect_line "======KOVA : Wait for boot-up ... Successful !======"
expect_served ENABLE "[('application', 'start'), ('bootloader', 'command')]"

# 3. A tenth of the datagrams lost each way: lost blocks and acknowledgements
# are sent again until the image is whole.
start_board board "${BOARD_OPTIONS[@]}" --drop 0.1 --drop-sent 0.1 --seed 3
started=$EPOCHREALTIME
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/lossy" upgrade
echo "10 % loss: exit $CLI_RC after $(elapsed_since "$started")s"
expect_served lossy "[('application', 'start'), ('bootloader', 'magic')]"
lost=$(report_query board '(len([r for r in received if r.get("socket") == "tftp"
  and r["outcome"] == "dropped"]), len([s for s in report["sent"] if s["kind"] == "tftp-ack"
  and s["result"] == "lost"]), report["netboot"]["duplicates"])')
echo "10 % loss: blocks lost, acknowledgements lost, blocks received twice: $lost"
[[ "$lost" =~ ^\([1-9][0-9]*,\ [1-9][0-9]*,\ [1-9][0-9]*\)$ ]] ||
  fail "the seed lost no block or no acknowledgement, or none was received twice: $lost"

# 4. The board is power cycled once its first block is in: its application
# broken, it comes up in its bootloader and asks for an address at once; the
# server answers it again and serves the image from its first block.
write_config "$WORK/cycled" DISABLE
write_new_image "$WORK/cycled" 100000
start_board board "${BOARD_OPTIONS[@]}"
power_cycle_when board "$WORK/board.log" "DATA : taken"
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/cycled" upgrade
expect_served cycled \
  "[('application', 'start'), ('bootloader', 'magic'), ('bootloader', 'power cycle')]"
expect_report board '([p["came_up_in"] for p in report["power_cycles"]],
  report["netboot"]["rrq_sent"] >= 2, report["netboot"]["blocks"] > 196)' \
  "(['bootloader'], True, True)"

# 5. A busy segment: another machine asks for an address by DHCP every 0.2 s
# (at the test's tick), and a twentieth of the datagrams is lost each way.
# What arrives from others neither holds back the resending of a lost block
# nor gets an answer.
start_board board "${BOARD_OPTIONS[@]}" --drop 0.05 --drop-sent 0.05 --seed 5
# Started directly, so that $! is the sender's own pid.
ip netns exec "$TOPO_BOARD_NS" "$PYTHON" -c '
import socket, struct, sys, time
period, until = float(sys.argv[1]), time.monotonic() + 120
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, b"eth0")
xid = 0x4B420000
while time.monotonic() < until:
    xid += 1
    # DHCPDISCOVER from 02:00:00:00:00:01, no server name.
    request = struct.pack("!BBBBI", 1, 1, 6, 0, xid) + bytes(20) + \
        bytes.fromhex("020000000001") + bytes(202) + bytes.fromhex("63825363350101ff")
    s.sendto(request.ljust(300, b"\0"), ("255.255.255.255", 67))
    time.sleep(period)' "$("$PYTHON" -c "print(0.2 * $TICK_MS / 100)")" &
dhcp=$!
started=$EPOCHREALTIME
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/lossy" upgrade
echo "DHCP every 0.2 s, 5 % loss: exit $CLI_RC after $(elapsed_since "$started")s"
kill "$dhcp"
wait "$dhcp" 2>/dev/null
expect_served lossy "[('application', 'start'), ('bootloader', 'magic')]"
lost=$(report_query board 'len([r for r in received if r.get("socket") == "tftp"
  and r["outcome"] == "dropped"])')
echo "DHCP every 0.2 s, 5 % loss: blocks lost: $lost"
[ "$lost" -gt 0 ] || fail "the seed lost no block"
# Every lost block came again before the board gave up on the server.
expect_report board '[report["netboot"][k] for k in ("rrq_sent", "errors")]' "[1, []]"
echo "PASS"
