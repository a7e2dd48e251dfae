#!/usr/bin/env bash
# doctor on the bench: every check passes where the upgrade would work; a
# socket holding port 67 is named with its process; without the network
# capabilities their check fails and says how to grant them.
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

ALL=(interface link address route port-67 port-69 capabilities configuration image-mark)
doctor "$WORK/ok.json"
expect_rc 0
[ "$(checks)" = "$(printf '%s=ok ' "${ALL[@]}" | sed 's/ $//')" ] ||
  fail "not every check passed: $(checks)"

# The text form: one line per check.
topo_host "$CLI" -i "$TOPO_HOST_IF" -C "$WORK/files" doctor >"$WORK/text" || fail "doctor failed"
grep -qxF "OK    UDP port 67 (BOOTP) is free" "$WORK/text" || fail "$(cat "$WORK/text")"
grep -qxF "all 9 checks passed" "$WORK/text" || fail "$(cat "$WORK/text")"

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
  "[(False, 'UDP port 67 (BOOTP) is held by python3 (pid $HOLDER_PID)')]"
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
echo "PASS"
