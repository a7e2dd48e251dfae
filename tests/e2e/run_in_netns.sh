#!/bin/bash
# Runs a test program inside a network namespace of its own, so that it can
# change the kernel's neighbour table without touching the machine's:
# link kova-h0 (192.168.100.1/24, up, veth peer kova-b0) and no default route.
# Exits 77 (skipped) where this process cannot make namespaces.
# Usage: run_in_netns.sh PROGRAM [ARGS...]

set -u
prog=${1:?usage: $0 PROGRAM [ARGS...]}
shift

prefix=kova-nbr-
ns=$prefix$$
child=

skip() {
  echo "SKIP: $*"
  exit 77
}

# shellcheck disable=SC2317  # called by the trap
cleanup() {
  if [ -n "$child" ]; then
    kill -TERM "$child" 2>/dev/null
    wait "$child" 2>/dev/null
  fi
  ip netns delete "$ns" 2>/dev/null
}

[ "$(id -u)" -eq 0 ] || skip "not root"
command -v ip >/dev/null || skip "no ip command"

# Namespaces of earlier runs that were killed outright (no trap runs then).
for old in $(ip netns list 2>/dev/null | awk '{print $1}' | grep "^${prefix}[0-9]*$"); do
  kill -0 "${old#"$prefix"}" 2>/dev/null || ip netns delete "$old" 2>/dev/null
done

ip netns add "$ns" 2>/dev/null || skip "cannot create a network namespace"
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

ip -n "$ns" link set lo up 2>/dev/null || skip "cannot configure the namespace"
ip -n "$ns" link add kova-h0 type veth peer name kova-b0 2>/dev/null || skip "no veth links"
ip -n "$ns" addr add 192.168.100.1/24 dev kova-h0 || exit 1
ip -n "$ns" link set kova-b0 up || exit 1
ip -n "$ns" link set kova-h0 up || exit 1
for _ in $(seq 50); do
  ip -n "$ns" -o link show kova-h0 | grep -q 'state UP' && break
  sleep 0.1
done

# In the background, so that a signal to this shell ends the test at once.
ip netns exec "$ns" "$prog" "$@" &
child=$!
wait "$child"
status=$?
child=
exit $status
