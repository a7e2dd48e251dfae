#!/usr/bin/env bash
# CPU time of the worker while it waits: `kova-upgrade version` at each pass
# delay against a board that never answers (two seconds of socket settle,
# then the two-second reply time-out, at the real 100 ms tick), in
# namespaces of its own (tests/e2e/topology.sh). Prints user+system seconds
# of the tool (without what `ip netns exec` costs) against the wall time of
# each run.
#   bench/worker_cpu_bench.sh [KOVA_UPGRADE] [DELAY ...]
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
CLI=$(realpath "${1:-build/kova-upgrade}")
shift
DELAYS=("$@")
[ ${#DELAYS[@]} -gt 0 ] || DELAYS=(0 1 5)
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
printf '[KOVA_CFG_START]\r\n3\r\nENABLE\r\napp.bin\r\nbl.bin\r\nupbl.bin\r\n[KOVA_CFG_END]\r\n' \
  >"$WORK/KOVA_Config.cfg"
head -c 2048 /dev/zero >"$WORK/app.bin"
ip netns exec "$TOPO_BOARD_NS" python3 "$SIM" --mac "$TOPO_BOARD_MAC" --silent \
  --ready-file "$WORK/ready" 2>/dev/null &
BOARD=$!
for _ in $(seq 100); do [ -s "$WORK/ready" ] && break; sleep 0.05; done

# `ip netns exec` costs CPU of its own (it remounts /sys): measured alone
# first, then subtracted from each run's figure.
exec_cpu=$(python3 - "$TOPO_HOST_NS" <<'PY'
import resource, subprocess, sys
runs = 5
for _ in range(runs):
    subprocess.run(["ip", "netns", "exec", sys.argv[1], "true"])
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print("%.3f" % ((usage.ru_utime + usage.ru_stime) / runs))
PY
)
echo "ip netns exec alone: $exec_cpu s of CPU (subtracted below)"
printf '%-6s %10s %10s\n' delay "cpu (s)" "wall (s)"
for delay in "${DELAYS[@]}"; do
  python3 - "$TOPO_HOST_NS" "$CLI" "$TOPO_HOST_IF" "$TOPO_BOARD_MAC" "$WORK" "$delay" \
    "$exec_cpu" <<'PY'
import resource, subprocess, sys, time
ns, cli, iface, mac, work, delay, exec_cpu = sys.argv[1:]
start = time.monotonic()
subprocess.run(["ip", "netns", "exec", ns, cli, "-i", iface, "-m", mac, "-C", work,
                "-d", delay, "version"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
wall = time.monotonic() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = usage.ru_utime + usage.ru_stime - float(exec_cpu)
print("%-6s %10.3f %10.2f" % (delay, cpu, wall))
PY
done
