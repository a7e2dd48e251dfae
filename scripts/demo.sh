#!/usr/bin/env bash
# The demo, on a fresh Debian 12 as root: builds what is missing (both
# programs), makes a small network of namespaces with an emulated KOVA board
# on it, and upgrades the board's firmware with kova-upgrade by each of the
# three roads: an
# old-platform board through its ISP bootloader, a new-platform board through
# the tool's boot server (BOOTP and TFTP), and a running board by remote
# update. After each upgrade the demo compares what the board holds with the
# image. Then the maintenance commands and the doctor. Everything it makes is
# removed at the end, whatever happens; its operations are logged with the
# demo's files, not in the user's own log.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j2 --target kova-upgrade kova-upgrade-tool

# shellcheck source=tests/e2e/topology.sh
source tests/e2e/topology.sh
if ! topo_possible; then
  echo "The demo needs root and network namespaces (ip netns)." >&2
  exit 1
fi

work=$(mktemp -d)
board_pid=
stop_board() {
  if [ -n "$board_pid" ]; then
    kill -TERM "$board_pid" 2>/dev/null || true
    wait "$board_pid" 2>/dev/null || true
    board_pid=
  fi
}
cleanup() {
  stop_board
  topo_remove
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
export XDG_STATE_HOME=$work/state
failures=0

topo_create

# config DIR SETTING: a configuration that loads the application image only.
config() {
  mkdir -p "$1"
  printf '[KOVA_CFG_START]\r\n3\r\n%s\r\napp.bin\r\nbl.bin\r\nupbl.bin\r\n[KOVA_CFG_END]\r\n' \
    "$2" >"$1/KOVA_Config.cfg"
}
# Images that repeat nowhere, each with its platform's mark.
config "$work/old" ENABLE
python3 -c 'import random, sys; image = bytearray(random.Random(1).randbytes(0x7D000))
image[0x7CFF0:0x7CFF2] = b"\xaa\x55"; open(sys.argv[1], "wb").write(image)' "$work/old/app.bin"
config "$work/new" ENABLE
python3 -c 'import random, sys; image = bytearray(random.Random(2).randbytes(150000))
image[0x13E:0x140] = b"\xaa\x55"; open(sys.argv[1], "wb").write(image)' "$work/new/app.bin"
# An S-record file: a header, 400 data records of 16 bytes, an end record.
config "$work/remote" REMOTE
python3 - "$work/remote/app.bin" <<'PY'
import sys
def record(kind, address, size, data):
    body = bytes([size + len(data) + 1]) + address.to_bytes(size, "big") + data
    return "S%d%s%02X" % (kind, body.hex().upper(), ~sum(body) & 0xFF)
lines = [record(0, 0, 2, b"kova-remote")]
lines += [record(3, 0x8000 + 16 * i, 4, bytes((i * 16 + k) * 7 & 0xFF for k in range(16)))
          for i in range(400)]
lines.append(record(7, 0x8000, 4, b""))
open(sys.argv[1], "wb").write(b"".join(l.encode() + b"\r\n" for l in lines))
PY

# start_board [simulator options]: the emulated board, alone on its segment.
start_board() {
  rm -f "$work/board.ready" "$work/board.json"
  # Started directly, so that $! is the board's own pid.
  ip netns exec "$TOPO_BOARD_NS" python3 tools/board-sim/board_sim.py --mac "$TOPO_BOARD_MAC" \
    --ip "$TOPO_BOARD_IP" --version 0x01.0x07 --model-name KV-100 --reboot-delay 0.2 \
    --report "$work/board.json" --ready-file "$work/board.ready" --verbose "$@" \
    2>>"$work/board.log" &
  board_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/board.ready" ] && return 0
    sleep 0.05
  done
  echo "the emulated board did not start" >&2
  exit 1
}

# kova [arguments]: kova-upgrade on the board's segment, with the board's MAC.
kova() {
  echo "\$ kova-upgrade -i $TOPO_HOST_IF -m $TOPO_BOARD_MAC $*"
  local status=0
  ip netns exec "$TOPO_HOST_NS" build/kova-upgrade -i "$TOPO_HOST_IF" -m "$TOPO_BOARD_MAC" \
    "$@" || status=$?
  echo "(exit status $status)"
  return $status
}

# timed_kova [arguments]: kova, then how long it took.
timed_kova() {
  local started status=0
  started=$(date +%s%N)
  kova "$@" || status=$?
  echo "(took $(( ($(date +%s%N) - started) / 1000000 )) ms)"
  return $status
}

title() { printf '\n=== %s\n' "$1"; }

# verdict WHAT CHECK...: once the board has ended and written its report,
# runs the check: whether the board holds what it should.
verdict() {
  local what=$1
  shift
  stop_board
  if "$@"; then
    echo "--> $what: yes"
  else
    echo "--> $what: NO"
    failures=$((failures + 1))
  fi
}

flash_holds_image() {
  python3 - "$work/old.flash" "$work/old/app.bin" <<'PY'
import sys
flash, image = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
region = 516096
sys.exit(0 if flash[8192:8192 + region] == image[:region].ljust(region, b"\xff") else 1)
PY
}

remote_lines_match() {
  python3 - "$work/board.json" "$work/remote/app.bin" <<'PY'
import json, sys
remote = json.load(open(sys.argv[1]))["remote"]
lines = open(sys.argv[2], "rb").read().decode().split("\r\n")[:-1]
sys.exit(0 if remote["lines"] == lines and not remote["bad_lines"] else 1)
PY
}

cat <<TEXT

The network: this PC (namespace $TOPO_HOST_NS) has its default route on eth0 and
the board's segment on $TOPO_HOST_IF ($TOPO_HOST_IP/24). The emulated board (namespace
$TOPO_BOARD_NS) has MAC $TOPO_BOARD_MAC and address $TOPO_BOARD_IP, firmware 0x01 0x07
and the model name KV-100.
TEXT

title "The adapters kova-upgrade sees"
ip netns exec "$TOPO_HOST_NS" build/kova-upgrade --list-interfaces

title "Old platform: what an upgrade would do (a dry run: nothing that changes the board is sent)"
start_board --platform old --flash-file "$work/old.flash"
kova -C "$work/old" --dry-run upgrade || failures=$((failures + 1))

title "Old platform: upgrade from the running application (jump, boot-up, ISP erase and program)"
timed_kova -C "$work/old" upgrade || failures=$((failures + 1))
verdict "the board's flash holds the image, byte for byte" flash_holds_image

title "New platform: upgrade through the boot server (the board fetches the image by TFTP)"
start_board --platform new --image-file "$work/new.img"
timed_kova -C "$work/new" upgrade || failures=$((failures + 1))
verdict "the board received the image, byte for byte" cmp -s "$work/new.img" "$work/new/app.bin"

title "Remote update: the running board takes an S-record file line by line"
start_board --platform new
timed_kova -C "$work/remote" upgrade || failures=$((failures + 1))
verdict "the board received every line of the file, in order" remote_lines_match

title "The maintenance commands"
start_board --platform new
kova -C "$work/new" version || failures=$((failures + 1))
kova -C "$work/new" config-reset || failures=$((failures + 1))
kova -C "$work/new" --ip "$TOPO_BOARD_IP" model-name || failures=$((failures + 1))
echo "(set-model-name always writes QX-204)"
kova -C "$work/new" --ip "$TOPO_BOARD_IP" set-model-name || failures=$((failures + 1))
kova -C "$work/new" --ip "$TOPO_BOARD_IP" model-name || failures=$((failures + 1))
stop_board

title "The workstation's checks"
echo "\$ kova-upgrade -i $TOPO_HOST_IF -C DIR doctor"
ip netns exec "$TOPO_HOST_NS" build/kova-upgrade -i "$TOPO_HOST_IF" -C "$work/new" doctor || true

echo
if [ $failures -eq 0 ]; then
  echo "The demo ran every road to its end."
else
  echo "The demo saw $failures step(s) fail."
  exit 1
fi
