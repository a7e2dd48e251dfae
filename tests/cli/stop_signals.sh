#!/usr/bin/env bash
# SIGHUP, SIGQUIT, SIGTERM and SIGINT end a running kova-upgrade through the
# same clean shutdown: exit 1, sockets closed, no neighbour entry left. A
# hang-up ignored on start (nohup) stays ignored. Runs in a network namespace
# of its own with one veth link, so nothing leaves this process's namespace.
# Exits 77 (skipped) where no namespace can be made.
set -u
# shellcheck source=tests/cli/lib.sh
source "$(dirname "$0")/lib.sh"
own_netns_as_root
cli_setup
LAST_OUT=$WORK/out

# Job control, so that background jobs do not start with SIGINT and SIGQUIT
# ignored.
set -m

ip link set lo up || exit 1
ip link add kova-h0 type veth peer name kova-b0 || skip "no veth links"
ip addr add 192.168.100.1/24 dev kova-h0 || exit 1
{ ip link set kova-b0 up && ip link set kova-h0 up; } || exit 1
write_config "$WORK" 0 ENABLE a.bin b.bin c.bin

# start TICK_MS [PREFIX...]: Get Version toward a board that does not exist,
# in the background; returns once the broadcast socket is made, which
# settles for 20 ticks before anything is sent.
start() {
  local tick=$1
  shift
  rm -f "$WORK/out"  # the last run's lines must not count for this one
  "$@" "$CLI" -v -i kova-h0 -m "$MAC" -C "$WORK" --tick-ms "$tick" version \
    >"$WORK/out" 2>&1 &
  CLI_PID=$!
  for _ in $(seq 600); do
    grep -qF 'Broadcast Socket(Client) create ... Successful !' "$WORK/out" && return
    kill -0 "$CLI_PID" 2>/dev/null || fail "kova-upgrade ended before its socket was made"
    sleep 0.1
  done
  fail "no socket made within 60 s"
}

# finish: CLI_RC, the exit status of the job started last; fails if it runs on.
finish() {
  for _ in $(seq 600); do
    kill -0 "$CLI_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$CLI_PID" 2>/dev/null && fail "kova-upgrade still ran 60 s after the signal"
  wait "$CLI_PID"
  CLI_RC=$?
  CLI_PID=
}

# With ticks of a minute the settle alone lasts twenty minutes: ending within
# the bound above can only be the signal's doing.
for sig in HUP QUIT TERM INT; do
  start 60000
  kill -"$sig" "$CLI_PID"
  finish
  expect_status "$CLI_RC" 1 "SIG$sig"
  expect_line '    Broadcast Socket close ... Successful !' "SIG$sig: the socket was not closed"
  expect_line 'WSACleanup ... successful !' "SIG$sig: no clean shutdown"
  expect_no_text '[KOVA Upgrade...]' "SIG$sig: the operation ran to its end"
  expect_line 'kova-upgrade: failed: the operation was interrupted before it ended (interrupted)' \
    "SIG$sig: no word of the interruption"
  neighbours=$(ip neigh show nud permanent)
  [ -z "$neighbours" ] || fail "SIG$sig: neighbour entries left: $neighbours"
done

# Started with the hang-up ignored, the run goes on to its own end: the
# failure box of a board that never answers.
start 100 nohup
kill -HUP "$CLI_PID"
finish
expect_status "$CLI_RC" 1 "nohup"
expect_line '[KOVA Upgrade...]  ... Failed !' "nohup: a hang-up ended the run"
pass
