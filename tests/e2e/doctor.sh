#!/usr/bin/env bash
# doctor on the bench: every check passes where the upgrade would work; a
# socket holding port 67 is named with its process; without the network
# capabilities their check fails and says how to grant them. A station of
# cloned cards: each card's report, strict reverse-path filtering on a card
# the board's address is not routed through fails, a port held on one card
# fails that card alone.
source "$(dirname "$0")/lib.sh"
e2e_setup
write_config "$WORK/files" DISABLE
write_image "$WORK/files" old
HOLDER_PID=

# doctor OUT [arguments]: the JSON run in the host namespace, checked.
doctor() {
  LAST_OUT=$1
  shift
  topo_host "$@" "$CLI" -i "$TOPO_HOST_IF" -C "$WORK/files" --json doctor >"$LAST_OUT" \
    2>"$LAST_OUT.err"
  CLI_RC=$?
  expect_valid_events "$LAST_OUT"
}

checks() {
  event_query "$LAST_OUT" '" ".join(c["name"] + ("=ok" if c["ok"] else "=FAIL") for c in of("check"))'
}

ALL=(interface link address route reverse-path port-67 port-69 capabilities configuration image-mark)
doctor "$WORK/ok.json"
expect_rc 0
[ "$(checks)" = "$(printf '%s=ok ' "${ALL[@]}" | sed 's/ $//')" ] ||
  fail "not every check passed: $(checks)"

# The text form: one line per check.
topo_host "$CLI" -i "$TOPO_HOST_IF" -C "$WORK/files" doctor >"$WORK/text" || fail "doctor failed"
grep -qxF "OK    UDP port 67 (BOOTP) is free" "$WORK/text" || fail "$(cat "$WORK/text")"
grep -qxF "all 10 checks passed" "$WORK/text" || fail "$(cat "$WORK/text")"

# Port 67 held by another socket.
ip netns exec "$TOPO_HOST_NS" "$PYTHON" -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 67))
open(sys.argv[1], "w").write("bound")
time.sleep(60)' "$WORK/holder.ready" &
HOLDER_PID=$!
for _ in $(seq 100); do [ -s "$WORK/holder.ready" ] && break; sleep 0.05; done
doctor "$WORK/held.json"
kill "$HOLDER_PID"
wait "$HOLDER_PID" 2>/dev/null
expect_rc 1
expect_event '[(c["ok"], c["detail"]) for c in of("check") if c["name"] == "port-67"]' \
  "[(False, 'UDP port 67 (BOOTP) is held by python3 (pid $HOLDER_PID) on every interface: it keeps the boot server off every card')]"
expect_event '[c["name"] for c in of("check") if not c["ok"]]' "['port-67']"
expect_event '[(r["ok"], r["reason"]) for r in of("result")]' "[(False, 'checks-failed')]"

# Without the capabilities: their check and the ports' fail, with the fix.
if setpriv --bounding-set=-net_admin,-net_raw,-net_bind_service true 2>/dev/null; then
  doctor "$WORK/caps.json" setpriv --bounding-set=-net_admin,-net_raw,-net_bind_service
  expect_rc 1
  expect_event '[c["name"] for c in of("check") if not c["ok"]]' \
    "['port-67', 'port-69', 'capabilities']"
  expect_event '[d.startswith("missing cap_net_bind_service (") and "cap_net_admin (" in d and
    "cap_net_raw" not in d for d in (c["detail"] for c in of("check"))
    if d.startswith("missing")]' "[True]"
  expect_event '[c["fix"] for c in of("check") if c["name"] == "capabilities"]' \
    "['run as root, or: setcap cap_net_bind_service,cap_net_admin=ep $(realpath "$CLI")']"
else
  echo "note: capabilities not dropped (no setpriv)"
fi

# The station: eth2 a clone of eth1, its link up through a peer beside it.
topo_host ip link add eth2 type veth peer name eth2peer || fail "no second card"
topo_host ip link set eth2peer up
topo_host ip addr add "$TOPO_HOST_IP/24" dev eth2
topo_host ip link set eth2 up
for _ in $(seq 50); do
  topo_host ip -o link show eth2 | grep -q 'state UP' && break
  sleep 0.1
done
printf 'eth1 %s\neth2 %s\n' "$TOPO_BOARD_MAC" "$(topo_mac 2)" >"$WORK/station"
ROUTED=$(topo_host ip -o route get "$TOPO_BOARD_IP" | sed -n 's/.* dev \([^ ]*\).*/\1/p')
OTHER=eth2
[ "$ROUTED" = eth2 ] && OTHER=eth1
topo_host sysctl -qw "net.ipv4.conf.all.rp_filter=0" "net.ipv4.conf.$ROUTED.rp_filter=1" \
  "net.ipv4.conf.$OTHER.rp_filter=1" || fail "cannot set rp_filter"
# Port 67 held on eth2 alone.
ip netns exec "$TOPO_HOST_NS" "$PYTHON" -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, b"eth2")
s.bind(("0.0.0.0", 67))
open(sys.argv[1], "w").write("bound")
time.sleep(60)' "$WORK/tied.ready" &
HOLDER_PID=$!
for _ in $(seq 100); do [ -s "$WORK/tied.ready" ] && break; sleep 0.05; done
LAST_OUT=$WORK/station.json
topo_host "$CLI" --station "$WORK/station" -C "$WORK/files" --json doctor >"$LAST_OUT" \
  2>"$LAST_OUT.err"
CLI_RC=$?
topo_host "$CLI" --station "$WORK/station" -C "$WORK/files" doctor >"$WORK/station.text" 2>&1
kill "$HOLDER_PID"
wait "$HOLDER_PID" 2>/dev/null
expect_valid_events "$LAST_OUT"
expect_rc 1
expect_event 'sorted(set(c["card"] for c in of("check")))' "['eth1', 'eth2']"
FAILED="[('eth2', 'port-67'), ('eth2', 'reverse-path')]"
[ "$OTHER" = eth1 ] && FAILED="[('eth1', 'reverse-path'), ('eth2', 'port-67')]"
expect_event 'sorted((c["card"], c["name"]) for c in of("check") if not c["ok"])' "$FAILED"
expect_event '[c["fix"] for c in of("check") if not c["ok"] and c["name"] == "reverse-path"]' \
  "['sysctl -w net.ipv4.conf.$OTHER.rp_filter=2 (2: loose; 0: off)']"
expect_event '[c["detail"] for c in of("check") if c["card"] == "eth2" and c["name"] == "port-67"]' \
  "['UDP port 67 (BOOTP) is held by python3 (pid $HOLDER_PID) on eth2']"
expect_event '[c["ok"] for c in of("check") if c["name"] == "route"]' "[True, True]"
grep -qxF "card eth2:" "$WORK/station.text" || fail "$(cat "$WORK/station.text")"
echo "PASS"
