#!/usr/bin/env bash
# Peers on the board's segment, and only the board's answers count.
# 1. A peer at another address of the board sprays small datagrams at the
# host's UDP ports while Get Version's socket settles, and answers whatever
# reaches it with a forged version. Only the board may steer the request:
# the board is asked and its own version is shown.
# 2-4. A peer with a MAC and an address of its own, which a bridge that
# floods every frame (a hub, or a switch that has not learnt the board's
# MAC) lets see what the host sends the board, answers before the board: the
# ISP dialogue, the remote update's address request, its acknowledgements.
export E2E_SEGMENT_BOARDS=2
source "$(dirname "$0")/lib.sh"
e2e_setup
linux_side_neighbour_entry
# The segment's second namespace is the peer's, with a MAC and an address
# of its own; the bridge floods every frame to every port.
PEER_NS=${TOPO_BOARD_NSES[1]}
PEER_IP=192.168.100.77
ip -n "$PEER_NS" addr flush dev eth0
ip -n "$PEER_NS" addr add "$PEER_IP/24" dev eth0 || fail "no address for the peer"
for port in host board1 board2; do
  ip -n "$TOPO_SEGMENT_NS" link set dev "$port" type bridge_slave learning off ||
    fail "the bridge still learns on $port"
done
ip netns exec "$TOPO_SEGMENT_NS" bridge fdb flush dev br0 dynamic ||
  fail "the bridge keeps what it learnt"
write_config "$WORK/cfg" ENABLE
write_image "$WORK/cfg" new
ip -n "$TOPO_BOARD_NS" addr add 192.168.100.66/24 dev eth0 || fail "no second address"

start_board board --version 1.7
ip netns exec "$TOPO_BOARD_NS" "$PYTHON" - "$TOPO_HOST_NS" "$WORK/peer.json" \
  "$WORK/peer.ready" 2>"$WORK/peer.log" <<'PEER' &
import json, select, signal, socket, subprocess, sys
host_ns, report, ready = sys.argv[1], sys.argv[2], sys.argv[3]
stop = False
def on_term(*_):
    global stop
    stop = True
signal.signal(signal.SIGTERM, on_term)
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("192.168.100.66", 40000))
open(ready, "w").close()
sprayed, hijacked = 0, []
while not stop:
    ports = set()
    out = subprocess.run(["ip", "netns", "exec", host_ns, "ss", "-H", "-uan"],
                         capture_output=True, text=True).stdout
    for line in out.splitlines():
        local = line.split()[3]
        ports.add(int(local.rsplit(":", 1)[1]))
    for port in ports:
        sock.sendto(b"\x00", ("192.168.100.1", port))
        sprayed += 1
    readable, _, _ = select.select([sock], [], [], 0.002)
    if readable:
        data, sender = sock.recvfrom(2048)
        hijacked.append(data.hex())
        sock.sendto(bytes([0x00, 0x06, 0x80, 0x01, 0x09, 0x09]), sender)
json.dump({"sprayed": sprayed, "hijacked": hijacked}, open(report, "w"))
PEER
PEER_PID=$!
for _ in $(seq 200); do
  [ -e "$WORK/peer.ready" ] && break
  sleep 0.05
done
[ -e "$WORK/peer.ready" ] || fail "the spraying peer did not start"

# The real tick: two seconds of settle time to spray in.
TICK_MS=100

run_cli "$WORK/out" -v -d 0 -m "$TOPO_BOARD_MAC" -C "$WORK/cfg" version
kill -TERM "$PEER_PID"
wait "$PEER_PID" || fail "the spraying peer failed: $(cat "$WORK/peer.log")"
expect_rc 0
expect_line "KOVA Application firmware is v0.107 !"
expect_no_line "KOVA Application firmware is v9.099 !"
stop_board board
expect_report board '[(r["command"], r["outcome"]) for r in requests("FWVER_REQ")]' \
  "[('FWVER_REQ', 'answered')]"
"$PYTHON" - "$WORK/peer.json" <<'CHECK' || fail "the peer steered the request: $(cat "$WORK/peer.json")"
import json, sys
peer = json.load(open(sys.argv[1]))
sys.exit(0 if peer["sprayed"] > 0 and not peer["hijacked"] else 1)
CHECK

TICK_MS=20
UPGRADE_OK="[KOVA Upgrade...] KOVA firmware upgrade ... Successful !"

# start_peer ROLE...: the peer answers as ROLE says. The boards below hold
# their first answers back 300 ms (--late-first), so that the peer is first
# whatever the machine's load.
start_peer() {
  rm -f "$WORK/own.ready"
  ip netns exec "$PEER_NS" "$PYTHON" "$E2E_DIR/own_mac_peer.py" eth0 "$PEER_IP" \
    "$TOPO_BOARD_MAC" "$WORK/own.json" "$WORK/own.ready" "$@" 2>"$WORK/own.log" &
  WATCH_PID[own]=$!
  for _ in $(seq 100); do
    [ -e "$WORK/own.ready" ] && return 0
    sleep 0.05
  done
  fail "the peer with a MAC of its own did not start"
}

# stop_peer KIND: the peer has answered KIND at least once.
stop_peer() {
  stop_watch own
  "$PYTHON" -c 'import json, sys
sys.exit(json.load(open(sys.argv[1]))["answered"].get(sys.argv[2], 0) == 0)' \
    "$WORK/own.json" "$1" || fail "the peer answered no $1: $(cat "$WORK/own.json")"
}

# 2. The peer takes up the ISP dialogue ("?" first): the image still goes to
# the board, byte for byte. (The board's first two answers: the platform
# mark and "Synchronized".)
write_config "$WORK/isp" DISABLE
write_image "$WORK/isp" old
start_board board --platform old --start-in bootloader --late-first 2:0.3
start_peer isp
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/isp" upgrade
stop_peer isp
expect_rc 0
expect_line "$UPGRADE_OK"
stop_board board
# Sectors 0-1 as they were, then the image padded with erased flash.
expect_report board 'report["isp"]["flash_sha256"] == __import__("hashlib").sha256(
  bytes((i * 7 + 3) & 255 for i in range(8192))
  + open("'"$WORK/isp/app.bin"'", "rb").read()[:516096].ljust(516096, b"\xff")).hexdigest()' True

# S0, 40 S3 records of 16 bytes, S7; CR LF.
write_config "$WORK/remote" REMOTE
"$PYTHON" - "$WORK/remote/app.bin" <<'SRECORDS'
import sys
def record(kind, address, size, data):
    body = bytes([size + len(data) + 1]) + address.to_bytes(size, "big") + data
    return "S%d%s%02X" % (kind, body.hex().upper(), ~sum(body) & 0xFF)
lines = [record(0, 0, 2, b"peer")]
lines += [record(3, 0x8000 + 16 * i, 4, bytes(range(i, i + 16))) for i in range(40)]
lines.append(record(7, 0x8000, 4, b""))
open(sys.argv[1], "wb").write(b"".join(l.encode() + b"\r\n" for l in lines))
SRECORDS

# 3. The peer answers the remote update's address request first (naming the
# board's MAC, reporting its own address) and acknowledges every command:
# the board's address is taken, and the board gets the whole file.
start_board board --late-first 1:0.3
start_peer address acks
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/remote" upgrade
stop_peer address
expect_rc 0
expect_line "======KOVA : Retrieve remote IP ... $TOPO_BOARD_IP !======"
stop_board board
expect_report board 'report["remote"]["updates"], report["remote"]["bad_lines"]' "([42], [])"

# 4. The board loses 5 % of what it receives (with this seed, the eighth
# line) while the peer acknowledges every command: the lost line fails the
# update, and the board is never told to install what it has.
start_board board --drop 0.05 --seed 1 --late-first 1:0.3
start_peer acks
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/remote" upgrade
stop_peer ack
expect_rc 1
expect_line "======KOVA : Send file to remote ... Failed !======"
stop_board board
# The last the board heard is the line it lost.
expect_report board 'received[-1]["outcome"], len(requests("SEND_FILE")), report["remote"]["updates"]' \
  "('dropped', 7, [])"
echo "PASS"
