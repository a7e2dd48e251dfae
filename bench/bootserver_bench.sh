#!/usr/bin/env bash
# The boot server next to tftpd-hpa: both serve a 516,096-byte image to
# tftp-hpa at the board's address over the same veth pair, in namespaces of
# their own (tests/e2e/topology.sh), taking turns read by read. Prints both
# times and their ratio.
#   bench/bootserver_bench.sh [BOOTSERVER_BENCH] [READS]
# Run as root; installs tftpd-hpa and tftp-hpa when missing, with the
# daemon kept off: the bench starts its own in.tftpd inside the namespace.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
BENCH=${1:-build/bootserver_bench}
READS=${2:-30}

[ -x "$BENCH" ] || {
  echo "no benchmark program at $BENCH (cmake --build build --target bootserver_bench)" >&2
  exit 2
}

install_missing() {
  local missing=() p
  for p in tftpd-hpa tftp-hpa; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  # Package scripts would start the daemon on port 69 of the machine.
  local policy=/usr/sbin/policy-rc.d made_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod +x "$policy"
    made_policy=1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"
  local status=$?
  [ $made_policy -eq 1 ] && rm -f "$policy"
  if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
    systemctl disable --now tftpd-hpa >/dev/null 2>&1
  fi
  update-rc.d tftpd-hpa disable >/dev/null 2>&1
  return $status
}

install_missing || exit 1

# shellcheck source=tests/e2e/topology.sh
source tests/e2e/topology.sh
if ! topo_possible; then
  echo "this process cannot create network namespaces" >&2
  exit 1
fi
WORK=$(mktemp -d)
cleanup() {
  topo_remove
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
topo_create || exit 1

# in.tftpd drops its rights before it reads the file.
chmod 755 "$WORK"
head -c 516096 /dev/urandom >"$WORK/firmware.bin"
chmod 644 "$WORK/firmware.bin"

topo_host "$BENCH" --board-netns "$TOPO_BOARD_NS" --device "$TOPO_HOST_IF" \
  --server "$TOPO_HOST_IP" --client "$TOPO_BOARD_IP" \
  --image "$WORK/firmware.bin" --out "$WORK/read.bin" --runs "$READS"
