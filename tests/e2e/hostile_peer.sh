#!/usr/bin/env bash
# A peer at another address of the board's segment sprays small datagrams at
# the host's UDP ports while Get Version's socket settles, and answers
# whatever reaches it with a forged version. Only the board may steer the
# request: the board is asked and its own version is shown.
source "$(dirname "$0")/lib.sh"
e2e_setup
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
echo "PASS"
