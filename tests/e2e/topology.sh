# shellcheck shell=bash
# The network the end-to-end tests and the demo run in, made of namespaces
# so that nothing touches the machine's own interfaces:
#
#   wan ns  up0 10.77.0.1/24
#            |
#   host ns eth0 10.77.0.2/24 (default route via 10.77.0.1)
#           eth1 192.168.100.1/24 -------- board ns eth0 192.168.100.2/24, the board's MAC
#
# The default route sits on the host's first interface so that a request that
# does not leave through the chosen interface (eth1) never reaches the board.
#
# topo_create_segment COUNT builds the same host and wan, but eth1 meets
# COUNT boards on a bridge in a namespace of its own: a production bench.
# Every board has 192.168.100.2, the address the tool derives for all of
# them; their MACs count up from TOPO_BOARD_MAC.
#
# Source this file; names carry the sourcing shell's pid.

TOPO_SUFFIX=$$
TOPO_HOST_NS=kova-host-$TOPO_SUFFIX
TOPO_BOARD_NS=kova-board-$TOPO_SUFFIX
TOPO_WAN_NS=kova-wan-$TOPO_SUFFIX
TOPO_HOST_IF=eth1
TOPO_HOST_IP=192.168.100.1
TOPO_BOARD_IP=192.168.100.2
TOPO_BOARD_MAC=${TOPO_BOARD_MAC:-00:1A:2B:3C:4D:5E}
TOPO_SEGMENT_NS=kova-seg-$TOPO_SUFFIX
TOPO_CREATED=()
# With topo_create_segment: board k's namespace and MAC, k from 1.
TOPO_BOARD_NSES=()
TOPO_BOARD_MACS=()

# 0 when this process may build the topology: root, `ip netns` and veth
# pairs work.
topo_possible() {
  [ "$(id -u)" -eq 0 ] || return 1
  command -v ip >/dev/null || return 1
  local probe=kova-probe-$TOPO_SUFFIX
  ip netns add "$probe" 2>/dev/null || return 1
  ip -n "$probe" link add probe0 type veth peer name probe1 2>/dev/null
  local status=$?
  ip netns delete "$probe" 2>/dev/null
  return $status
}

# A run killed outright (SIGKILL) had no chance to clean up: remove the
# namespaces of runs whose shell is gone, ending what still runs in them by
# its pid.
topo_sweep_stale() {
  local ns pid owner
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
    case "$ns" in
      kova-host-* | kova-board*-* | kova-wan-* | kova-seg-* | ksta-*-*) owner=${ns##*-} ;;
      *) continue ;;
    esac
    [[ "$owner" =~ ^[0-9]+$ ]] || continue
    kill -0 "$owner" 2>/dev/null && continue
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
      kill -KILL "$pid" 2>/dev/null
    done
    ip netns delete "$ns" 2>/dev/null
  done
}

topo_create() {
  local ns
  topo_sweep_stale
  for ns in "$TOPO_HOST_NS" "$TOPO_BOARD_NS" "$TOPO_WAN_NS"; do
    ip netns add "$ns" || return 1
    TOPO_CREATED+=("$ns")
    ip -n "$ns" link set lo up || return 1
  done
  # Both ends of each pair are made inside the namespaces, never in ours.
  ip -n "$TOPO_HOST_NS" link add eth0 type veth peer name up0 netns "$TOPO_WAN_NS" || return 1
  ip -n "$TOPO_HOST_NS" link add "$TOPO_HOST_IF" type veth peer name eth0 netns "$TOPO_BOARD_NS" \
    || return 1
  ip -n "$TOPO_BOARD_NS" link set eth0 address "$TOPO_BOARD_MAC" || return 1

  ip -n "$TOPO_WAN_NS" addr add 10.77.0.1/24 dev up0 || return 1
  ip -n "$TOPO_HOST_NS" addr add 10.77.0.2/24 dev eth0 || return 1
  ip -n "$TOPO_HOST_NS" addr add "$TOPO_HOST_IP/24" dev "$TOPO_HOST_IF" || return 1
  ip -n "$TOPO_BOARD_NS" addr add "$TOPO_BOARD_IP/24" dev eth0 || return 1
  ip -n "$TOPO_WAN_NS" link set up0 up || return 1
  ip -n "$TOPO_HOST_NS" link set eth0 up || return 1
  ip -n "$TOPO_HOST_NS" link set "$TOPO_HOST_IF" up || return 1
  ip -n "$TOPO_BOARD_NS" link set eth0 up || return 1
  ip -n "$TOPO_HOST_NS" route add default via 10.77.0.1 dev eth0 || return 1
  topo_wait_links
}

# topo_mac K: TOPO_BOARD_MAC with K-1 added to its last byte.
topo_mac() {
  local last=$((16#${TOPO_BOARD_MAC##*:} + $1 - 1))
  printf '%s:%02X' "${TOPO_BOARD_MAC%:*}" $((last & 255))
}

topo_create_segment() {
  local count=$1 k ns
  topo_sweep_stale
  for ns in "$TOPO_HOST_NS" "$TOPO_WAN_NS" "$TOPO_SEGMENT_NS"; do
    ip netns add "$ns" || return 1
    TOPO_CREATED+=("$ns")
    ip -n "$ns" link set lo up || return 1
  done
  ip -n "$TOPO_SEGMENT_NS" link add br0 type bridge || return 1
  ip -n "$TOPO_SEGMENT_NS" link set br0 up || return 1
  ip -n "$TOPO_HOST_NS" link add eth0 type veth peer name up0 netns "$TOPO_WAN_NS" || return 1
  ip -n "$TOPO_HOST_NS" link add "$TOPO_HOST_IF" type veth peer name host netns \
    "$TOPO_SEGMENT_NS" || return 1
  ip -n "$TOPO_SEGMENT_NS" link set host master br0 up || return 1
  for k in $(seq "$count"); do
    ns=$TOPO_BOARD_NS
    [ "$k" -gt 1 ] && ns=kova-board$k-$TOPO_SUFFIX
    ip netns add "$ns" || return 1
    TOPO_CREATED+=("$ns")
    TOPO_BOARD_NSES+=("$ns")
    TOPO_BOARD_MACS+=("$(topo_mac "$k")")
    ip -n "$ns" link set lo up || return 1
    ip -n "$ns" link add eth0 type veth peer name "board$k" netns "$TOPO_SEGMENT_NS" || return 1
    ip -n "$TOPO_SEGMENT_NS" link set "board$k" master br0 up || return 1
    ip -n "$ns" link set eth0 address "$(topo_mac "$k")" || return 1
    ip -n "$ns" addr add "$TOPO_BOARD_IP/24" dev eth0 || return 1
    ip -n "$ns" link set eth0 up || return 1
  done
  ip -n "$TOPO_WAN_NS" addr add 10.77.0.1/24 dev up0 || return 1
  ip -n "$TOPO_HOST_NS" addr add 10.77.0.2/24 dev eth0 || return 1
  ip -n "$TOPO_HOST_NS" addr add "$TOPO_HOST_IP/24" dev "$TOPO_HOST_IF" || return 1
  ip -n "$TOPO_WAN_NS" link set up0 up || return 1
  ip -n "$TOPO_HOST_NS" link set eth0 up || return 1
  ip -n "$TOPO_HOST_NS" link set "$TOPO_HOST_IF" up || return 1
  ip -n "$TOPO_HOST_NS" route add default via 10.77.0.1 dev eth0 || return 1
  topo_wait_links
}

# veth links come up asynchronously; packets sent before are lost.
topo_wait_links() {
  local ns up
  for _ in $(seq 50); do
    up=yes
    for ns in "$TOPO_BOARD_NS" "${TOPO_BOARD_NSES[@]}"; do
      ip -n "$ns" -o link show eth0 | grep -q 'state UP' || up=no
    done
    if [ $up = yes ] && ip -n "$TOPO_HOST_NS" -o link show "$TOPO_HOST_IF" | grep -q 'state UP' &&
      ip -n "$TOPO_HOST_NS" -o link show eth0 | grep -q 'state UP'; then
      return 0
    fi
    sleep 0.1
  done
  echo "topology: links did not come up" >&2
  return 1
}

# Removing a namespace removes the interfaces in it. Processes started in a
# namespace must have been ended by their pids before.
topo_remove() {
  local ns
  for ns in "${TOPO_CREATED[@]}"; do
    ip netns delete "$ns" 2>/dev/null
  done
  TOPO_CREATED=()
}

# For commands run in the foreground: started with & through these, $! is
# the pid of a subshell, not of the program.
topo_host() { ip netns exec "$TOPO_HOST_NS" "$@"; }
topo_board() { ip netns exec "$TOPO_BOARD_NS" "$@"; }
