#!/usr/bin/env bash
# SIGHUP, SIGQUIT, SIGTERM and SIGINT end a running kova-upgrade through the
# same clean shutdown: exit 1, sockets closed, no neighbour entry left. A
# hang-up ignored on start (nohup) stays ignored. Runs in a network namespace
# of its own with one veth link, so nothing leaves this process's namespace.
# Exits 77 (skipped) where no namespace can be made.
set -u
cli=$1

if [ -z "${KOVA_STOP_SIGNALS_NETNS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: not root"; exit 77; }
  unshare --net true 2>/dev/null || { echo "SKIP: cannot make a network namespace"; exit 77; }
  # The namespace goes away with the last process in it.
  exec unshare --net env KOVA_STOP_SIGNALS_NETNS=1 bash "$0" "$@"
fi

# Job control, so that background jobs do not start with SIGINT and SIGQUIT
# ignored.
set -m
dir=$(mktemp -d)
pid=
# shellcheck disable=SC2317  # called by the trap
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- output:"
  cat "$dir/out"
  exit 1
}

ip link set lo up || exit 1
ip link add kova-h0 type veth peer name kova-b0 || { echo "SKIP: no veth links"; exit 77; }
ip addr add 192.168.100.1/24 dev kova-h0 || exit 1
ip link set kova-b0 up && ip link set kova-h0 up || exit 1
printf '[KOVA_CFG_START]\r\n0\r\nENABLE\r\na.bin\r\nb.bin\r\nc.bin\r\n[KOVA_CFG_END]\r\n' \
  >"$dir/KOVA_Config.cfg"

# start TICK_MS [PREFIX...]: Get Version toward a board that does not exist,
# in the background; returns once the broadcast socket is made, which
# settles for 20 ticks before anything is sent.
start() {
  local tick=$1
  shift
  rm -f "$dir/out"  # the last run's lines must not count for this one
  "$@" "$cli" -v -i kova-h0 -m 00:1A:2B:3C:4D:5E -C "$dir" --tick-ms "$tick" version \
    >"$dir/out" 2>&1 &
  pid=$!
  for _ in $(seq 600); do
    grep -qF 'Broadcast Socket(Client) create ... Successful !' "$dir/out" && return
    kill -0 "$pid" 2>/dev/null || fail "kova-upgrade ended before its socket was made"
    sleep 0.1
  done
  fail "no socket made within 60 s"
}

# finish: the exit status of the job started last; fails if it runs on.
finish() {
  for _ in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && fail "kova-upgrade still ran 60 s after the signal"
  wait "$pid"
  status=$?
  pid=
}

# With ticks of a minute the settle alone lasts twenty minutes: ending within
# the bound above can only be the signal's doing.
for sig in HUP QUIT TERM INT; do
  start 60000
  kill -"$sig" "$pid"
  finish
  [ "$status" -eq 1 ] || fail "SIG$sig: exit status $status, expected 1"
  grep -qxF '    Broadcast Socket close ... Successful !' "$dir/out" ||
    fail "SIG$sig: the socket was not closed"
  grep -qxF 'WSACleanup ... successful !' "$dir/out" || fail "SIG$sig: no clean shutdown"
  grep -qF '[KOVA Upgrade...]' "$dir/out" && fail "SIG$sig: the operation ran to its end"
  neighbours=$(ip neigh show nud permanent)
  [ -z "$neighbours" ] || fail "SIG$sig: neighbour entries left: $neighbours"
done

# Started with the hang-up ignored, the run goes on to its own end: the
# failure box of a board that never answers.
start 100 nohup
kill -HUP "$pid"
finish
[ "$status" -eq 1 ] || fail "nohup: exit status $status, expected 1"
grep -qxF '[KOVA Upgrade...]  ... Failed !' "$dir/out" || fail "nohup: a hang-up ended the run"
echo "PASS"
