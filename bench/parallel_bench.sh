#!/usr/bin/env bash
# A station against one board alone, in the same run: one old-platform board
# in its bootloader upgraded alone on one card, then four such boards on four
# cards upgraded by one station run (--station, one engine per card on
# threads of one process); prints both wall times, their ratio and the CPU
# seconds of the tool and of the boards in each. The cards and boards are
# network namespaces of the run's own (tests/e2e/topology.sh); logs are on,
# in a folder of the run. Needs root.
#
# What bounds it: the ISP road is a lock-step exchange of short lines, each
# waiting for the board's answer, so a card alone is bound by that latency
# and leaves the CPU mostly idle. Four cards at once share two cores among
# four emulated boards (Python, one process each: about two thirds of all
# the CPU used) and the tool's threads (a worker and a receive thread per
# card, most of their time in the kernel: a thread switch and a system call
# or two per datagram each way). The ratio is set by that sharing, and by
# whatever else the machine runs, not by anything the cards wait for from
# each other: they share only the output and the log's files, each taken
# for a line at a time.
# Usage: bench/parallel_bench.sh BUILD_DIR [RUNS]
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: $0 BUILD_DIR [RUNS]}
runs=${2:-1}
cli=$build/kova-upgrade
sim=$here/../tools/board-sim/board_sim.py
cards=4
[ -x "$cli" ] || { echo "no $cli"; exit 2; }
# write_config and write_image, and the topology's names and helpers.
set -- "$cli" "$sim"
# shellcheck source=tests/e2e/lib.sh
source "$here/../tests/e2e/lib.sh"
topo_possible || { echo "SKIP: cannot create network namespaces"; exit 77; }
TOPO_HOST_NS=kpb-host-$TOPO_SUFFIX
WORK=$(mktemp -d)
export XDG_STATE_HOME=$WORK/state
boards=()
cleanup() {
  local pid
  for pid in "${boards[@]}"; do
    kill -TERM "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  topo_remove
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# One namespace for the host with a card ethK per board, each board in a
# namespace of its own, every board at the same address on its own segment.
ip netns add "$TOPO_HOST_NS" || exit 1
TOPO_CREATED+=("$TOPO_HOST_NS")
ip -n "$TOPO_HOST_NS" link set lo up
for k in $(seq "$cards"); do
  ns=kpb-board$k-$TOPO_SUFFIX
  ip netns add "$ns" || exit 1
  TOPO_CREATED+=("$ns")
  ip -n "$ns" link set lo up
  ip -n "$TOPO_HOST_NS" link add "eth$k" type veth peer name eth0 netns "$ns" || exit 1
  ip -n "$ns" link set eth0 address "$(topo_mac "$k")"
  ip -n "$TOPO_HOST_NS" addr add "$TOPO_HOST_IP/24" dev "eth$k"
  ip -n "$ns" addr add "$TOPO_BOARD_IP/24" dev eth0
  ip -n "$TOPO_HOST_NS" link set "eth$k" up
  ip -n "$ns" link set eth0 up
  write_config "$WORK/fix$k" DISABLE
  write_image "$WORK/fix$k" old
  echo "eth$k $(topo_mac "$k") $WORK/fix$k" >>"$WORK/station.txt"
done
for _ in $(seq 50); do
  up=yes
  for k in $(seq "$cards"); do
    ip -n "kpb-board$k-$TOPO_SUFFIX" -o link show eth0 | grep -q 'state UP' || up=no
    ip -n "$TOPO_HOST_NS" -o link show "eth$k" | grep -q 'state UP' || up=no
  done
  [ $up = yes ] && break
  sleep 0.1
done

# start_boards N: boards 1 to N in their bootloaders, fresh, waited for.
start_boards() {
  local k
  boards=()
  for k in $(seq "$1"); do
    rm -f "$WORK/ready$k"
    ip netns exec "kpb-board$k-$TOPO_SUFFIX" python3 "$sim" --mac "$(topo_mac "$k")" \
      --ip "$TOPO_BOARD_IP" --platform old --start-in bootloader --ready-file "$WORK/ready$k" \
      2>"$WORK/board$k.log" &
    boards+=($!)
  done
  for k in $(seq "$1"); do
    for _ in $(seq 100); do
      [ -s "$WORK/ready$k" ] && break
      sleep 0.05
    done
    [ -s "$WORK/ready$k" ] || { echo "board $k did not start"; exit 1; }
  done
}

# stop_boards: ends them; prints the CPU seconds they used.
stop_boards() {
  local pid ticks=0 stat
  for pid in "${boards[@]}"; do
    read -ra stat <"/proc/$pid/stat"
    ticks=$((ticks + stat[13] + stat[14]))
    kill -TERM "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  boards=()
  python3 -c "print('%.1f' % ($ticks / $(getconf CLK_TCK)))"
}

# timed OUT ARGS...: kova-upgrade in the host namespace; prints its wall
# seconds and its CPU seconds (user + system); fails unless it succeeded.
timed() {
  local out=$1 started status
  shift
  started=$EPOCHREALTIME
  /usr/bin/time -f '%U %S' -o "$out.cpu" ip netns exec "$TOPO_HOST_NS" "$cli" "$@" >"$out" 2>&1
  status=$?
  [ $status -eq 0 ] || { echo "kova-upgrade $* ended $status:"; cat "$out"; return 1; }
  python3 -c "u, s = open('$out.cpu').read().split()[-2:]
print('%.2f %.1f' % ($EPOCHREALTIME - $started, float(u) + float(s)))"
}

ratios=()
for run in $(seq "$runs"); do
  start_boards 1
  figures=$(timed "$WORK/alone" -i eth1 -m "$(topo_mac 1)" -C "$WORK/fix1" upgrade) ||
    { echo "$figures"; exit 1; }
  read -r alone alone_cpu <<<"$figures"
  alone_boards=$(stop_boards)
  start_boards "$cards"
  figures=$(timed "$WORK/station" --station "$WORK/station.txt" upgrade) ||
    { echo "$figures"; exit 1; }
  read -r station station_cpu <<<"$figures"
  station_boards=$(stop_boards)
  [ "$(grep -c 'firmware upgrade ... Successful !' "$WORK/station")" -eq "$cards" ] ||
    { echo "not every card succeeded:"; cat "$WORK/station"; exit 1; }
  ratio=$(python3 -c "print('%.2f' % ($station / $alone))")
  ratios+=("$ratio")
  echo "run $run: one board alone $alone s (cpu: tool $alone_cpu s, board $alone_boards s);" \
    "$cards boards on $cards cards $station s (cpu: tool $station_cpu s, boards" \
    "$station_boards s); ratio $ratio"
done
python3 -c "import statistics; print('median ratio %.2f over $runs runs ($(nproc) cores)' % statistics.median([${ratios[*]/%/,}]))"
