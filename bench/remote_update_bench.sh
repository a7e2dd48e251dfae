#!/usr/bin/env bash
# Lines per second of a REMOTE upgrade against the emulated board at pass
# delay 0, in namespaces of its own (tests/e2e/topology.sh): first a minimal
# client that sends the same SEND_FILE lines on one socket as fast as the
# board acknowledges them, then `kova-upgrade upgrade` at the real 100 ms
# tick. The engine's rate is taken from the board's own arrival times of the
# SEND_FILE requests, so the fixed waits around the transfer (socket settle
# times, the status poll) do not count; the whole run's time is printed too.
#   bench/remote_update_bench.sh [KOVA_UPGRADE] [RECORDS]
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
CLI=$(realpath "${1:-build/kova-upgrade}")
RECORDS=${2:-5000}
SIM=tools/board-sim/board_sim.py
source tests/e2e/topology.sh
topo_possible || { echo "cannot make network namespaces here" >&2; exit 77; }
WORK=$(mktemp -d)
BOARD=
cleanup() {
  [ -n "$BOARD" ] && kill -TERM "$BOARD" 2>/dev/null && wait "$BOARD" 2>/dev/null
  topo_remove
  rm -rf "$WORK"
}
trap cleanup EXIT
topo_create || exit 1
printf '[KOVA_CFG_START]\r\n3\r\nREMOTE\r\napp.bin\r\nbl.bin\r\nupbl.bin\r\n[KOVA_CFG_END]\r\n' \
  >"$WORK/KOVA_Config.cfg"
python3 - "$WORK/app.bin" "$RECORDS" <<'EOF'
import sys
path, count = sys.argv[1], int(sys.argv[2])
def record(kind, address, size, data):
    body = bytes([size + len(data) + 1]) + address.to_bytes(size, "big") + data
    return "S%d%s%02X" % (kind, body.hex().upper(), ~sum(body) & 0xFF)
lines = [record(0, 0, 2, b"bench")]
lines += [record(3, 0x8000 + 16 * i, 4, bytes((i + k) & 0xFF for k in range(16))) for i in range(count)]
lines.append(record(7, 0x8000, 4, b""))
open(path, "wb").write(b"".join(l.encode() + b"\r\n" for l in lines))
EOF

start_board() {
  rm -f "$WORK/ready" "$WORK/report.json"
  ip netns exec "$TOPO_BOARD_NS" python3 "$SIM" --mac "$TOPO_BOARD_MAC" --ip "$TOPO_BOARD_IP" \
    --report "$WORK/report.json" --ready-file "$WORK/ready" 2>/dev/null &
  BOARD=$!
  for _ in $(seq 100); do [ -s "$WORK/ready" ] && break; sleep 0.05; done
}

stop_board() {
  kill -TERM "$BOARD" 2>/dev/null
  wait "$BOARD" 2>/dev/null
  BOARD=
}

# Lines per second between the first and the last SEND_FILE the board took,
# and how many of them it found wrong or never saw.
board_rate() {
  python3 - "$WORK/report.json" "$1" <<'EOF'
import json, sys
report = json.load(open(sys.argv[1]))
times = [r["t"] for r in report["received"] if r.get("command") == "SEND_FILE"]
gaps = sorted(b - a for a, b in zip(times, times[1:]))
median = gaps[len(gaps) // 2] * 1000 if gaps else 0
rate = (len(times) - 1) / (times[-1] - times[0]) if len(times) > 1 else 0
print("%-16s %6d lines  %8.0f lines/s  median gap %.2f ms  bad %d" % (
    sys.argv[2], len(times), rate, median, len(report["remote"]["bad_lines"])))
EOF
}

echo "$((RECORDS + 2)) lines, board at $TOPO_BOARD_IP"
start_board
ip netns exec "$TOPO_HOST_NS" python3 - "$TOPO_BOARD_IP" "$WORK/app.bin" <<'EOF'
import socket, sys
board, path = sys.argv[1], sys.argv[2]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(1.0)
for line in open(path, "rb").read().split(b"\r\n")[:-1]:
    body = b"\x81\xf2SEND_FILE" + line
    s.sendto((len(body) + 2).to_bytes(2, "big") + body, (board, 5002))
    s.recvfrom(64)
EOF
stop_board
board_rate "minimal client"

start_board
python3 - "$TOPO_HOST_NS" "$CLI" "$TOPO_HOST_IF" "$TOPO_BOARD_MAC" "$WORK" <<'EOF'
import resource, subprocess, sys, time
ns, cli, iface, mac, work = sys.argv[1:]
start = time.monotonic()
status = subprocess.run(["ip", "netns", "exec", ns, cli, "-i", iface, "-m", mac, "-C", work,
                         "-d", "0", "upgrade"], stdout=subprocess.DEVNULL).returncode
wall = time.monotonic() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print("kova-upgrade exit %d, whole run %.1f s, cpu %.1f s" % (
    status, wall, usage.ru_utime + usage.ru_stime))
EOF
stop_board
board_rate "kova-upgrade -d 0"
