#!/usr/bin/env bash
# The boot server when the board does not come, when its ports are taken,
# when a standard TFTP client reads from it, and when the tool is stopped in
# the middle of a transfer: every run ends, says why, and leaves no socket
# and no neighbour entry behind.
source "$(dirname "$0")/lib.sh"
e2e_setup
linux_side_neighbour_entry
write_config "$WORK/cfg" DISABLE
write_new_image "$WORK/cfg" 2048
UPGRADE_OK="[KOVA Upgrade...] KOVA firmware upgrade ... Successful !"
UPGRADE_FAILED="[KOVA Upgrade...] KOVA firmware upgrade ... Failed !"
# The server's wait for the board's first request, in ticks.
REQUEST_BOUND_TICKS=600

elapsed_since() {
  "$PYTHON" -c "print(round($EPOCHREALTIME - $1, 1))"
}

expect_text() {
  grep -qF -- "$1" "$LAST_OUT" || fail "no text '$1'"
}

# 1. A bootloader that never asks for an address: the server gives up once
# its bound has passed (a short tick keeps the test short).
start_board board --platform new --reboot-delay 0.2 --silent-bootloader
saved_tick=$TICK_MS
TICK_MS=5
started=$EPOCHREALTIME
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/cfg" upgrade
elapsed=$(elapsed_since "$started")
TICK_MS=$saved_tick
bound_s=$((REQUEST_BOUND_TICKS * 5 / 1000))
echo "silent bootloader: exit $CLI_RC after ${elapsed}s (bound ${bound_s}s)"
expect_rc 1
expect_text "Boot server: no BOOTP request from the board within $bound_s s !"
expect_line "$UPGRADE_FAILED"
"$PYTHON" -c "import sys; sys.exit(0 if $elapsed >= $bound_s else 1)" ||
  fail "ended after ${elapsed}s, before the bound"
stop_board board
expect_report board '([report["netboot"][k] for k in ("state", "bootp_requests")],
  report["netboot"]["magic_packets"] > 0)' "(['silent', 0], True)"

# 2. Port 67 or 69 held in the host namespace by another socket, on any
# address or on the board's card: the server cannot start, nothing wakes the
# board, and the message names the port.
# holder                | message
cases=(
  "67 any               Boot server: cannot open the BOOTP port 67 on $TOPO_HOST_IF (another DHCP or BOOTP server may hold the port) !"
  "67 $TOPO_HOST_IF     Boot server: cannot open the BOOTP port 67 on $TOPO_HOST_IF (another DHCP or BOOTP server may hold the port) !"
  "69 any               Boot server: cannot open the TFTP port 69 on $TOPO_HOST_IF (another TFTP server may hold the port) !"
)
start_board board --platform new --reboot-delay 0.2
for row in "${cases[@]}"; do
  read -r port device message <<<"$row"
  rm -f "$WORK/holder.ready"
  ip netns exec "$TOPO_HOST_NS" "$PYTHON" -c '
import socket, sys, time
port, device, ready = int(sys.argv[1]), sys.argv[2], sys.argv[3]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
if device != "any":
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, device.encode())
s.bind(("0.0.0.0", port))
open(ready, "w").write("held")
time.sleep(120)' "$port" "$device" "$WORK/holder.ready" &
  holder=$!
  for _ in $(seq 200); do
    [ -s "$WORK/holder.ready" ] && break
    sleep 0.02
  done
  [ -s "$WORK/holder.ready" ] || fail "$row: the port could not be held"
  LAST_OUT=$WORK/out
  entry_from_linux_side
  topo_host timeout -k 5 60 "$CLI" -i "$TOPO_HOST_IF" --tick-ms "$TICK_MS" \
    -m "$TOPO_BOARD_MAC" -C "$WORK/cfg" upgrade >"$LAST_OUT" 2>&1
  CLI_RC=$?
  kill "$holder"
  wait "$holder" 2>/dev/null
  entry_removed_from_linux_side
  check_no_leftovers
  expect_rc 1
  expect_text "$message"
  expect_line "$UPGRADE_FAILED"
done
stop_board board
expect_report board 'report["netboot"]["magic_packets"], report["modes"][-1]["mode"]' \
  "(0, 'application')"

# 3. tftp-hpa reads the image while the server waits for a board that never
# asks for an address: from the board's address, the server's one peer, it
# gets the whole image (and the server its end). A read request from another
# address of the segment gets nothing.
command -v tftp >/dev/null || fail "no tftp client (tftp-hpa, scripts/install-deps.sh)"
topo_board ip addr add 192.168.100.3/24 dev eth0
start_board board --platform new --reboot-delay 0.2 --silent-bootloader --keep-address
start_cli "$WORK/out" -v -m "$TOPO_BOARD_MAC" -C "$WORK/cfg" upgrade
wait_host_port 69
other=$(topo_board "$PYTHON" -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("192.168.100.3", 0))
s.settimeout(float(sys.argv[2]))
s.sendto(b"\0\1firmware.bin\0octet\0", (sys.argv[1], 69))
try:
    print(s.recvfrom(600)[0][:4].hex())
except socket.timeout:
    print("nothing")' "$TOPO_HOST_IP" "$("$PYTHON" -c "print(10 * $TICK_MS / 1000)")")
[ "$other" = nothing ] || fail "a read request from another address was answered: $other"
topo_board tftp -m binary "$TOPO_HOST_IP" -c get firmware.bin "$WORK/fetched.bin" ||
  fail "tftp could not read the image"
finish_cli
expect_rc 0
cmp -s "$WORK/fetched.bin" "$WORK/cfg/app.bin" || fail "tftp read another image"
expect_line "$UPGRADE_OK"
expect_text "Boot server: read request from 192.168.100.3:"
stop_board board

if [ "$E2E_WINDOWS" = 1 ]; then
  # As in silent_board.sh: no console control event can be sent from here.
  echo "SKIP (Windows): the run ended by SIGTERM"
  echo "PASS"
  exit 0
fi

# 4. SIGTERM while block 1 waits for its acknowledgement: the run ends,
# failed, with the BOOTP, TFTP and transfer sockets all closed. At the real
# tick the server's own bounds outlast the engine's wait for its threads, so
# only the stop can end it in time.
start_board board --platform new --reboot-delay 0.2 --silent-bootloader --keep-address
TICK_MS=100
start_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/cfg" upgrade
TICK_MS=$saved_tick
wait_host_port 69
transfer_port=$(topo_board "$PYTHON" -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(10)
s.sendto(b"\0\1firmware.bin\0octet\0", (sys.argv[1], 69))
data, sender = s.recvfrom(600)
print(sender[1] if data[:4] == b"\0\3\0\1" else "block %s" % data[:4].hex())' "$TOPO_HOST_IP")
[[ "$transfer_port" =~ ^[0-9]+$ ]] || fail "no block 1 from the server: $transfer_port"
topo_host ss -H -uan "sport = :$transfer_port" | grep -q . || fail "no transfer socket"
kill -TERM "$CLI_PID"
finish_cli
expect_rc 1
expect_no_line "kova-upgrade: a thread did not stop; ending the program"
stop_board board
echo "PASS"
