#!/usr/bin/env bash
# A station: two cards of the host, each with an old-platform board in its
# bootloader on a segment of its own, both boards at the same derived
# address; one run upgrades both at the same time, each flash compared byte
# for byte to its fixture's image. Then a silent board on one card: its row
# fails, the other card's board is upgraded, the run ends 1.
source "$(dirname "$0")/lib.sh"
# Names of this script's own, so that a run beside the other scripts never
# meets theirs.
TOPO_HOST_NS=ksta-host-$TOPO_SUFFIX
TOPO_BOARD_NS=ksta-board-$TOPO_SUFFIX
TOPO_WAN_NS=ksta-wan-$TOPO_SUFFIX
BOARD2_NS=ksta-board2-$TOPO_SUFFIX
MAC1=$TOPO_BOARD_MAC
MAC2=$(topo_mac 2)
e2e_setup

# The second card: eth2, on a segment of its own with the second board.
ip netns add "$BOARD2_NS" || fail "could not add $BOARD2_NS"
TOPO_CREATED+=("$BOARD2_NS")
ip -n "$BOARD2_NS" link set lo up
ip -n "$TOPO_HOST_NS" link add eth2 type veth peer name eth0 netns "$BOARD2_NS" ||
  fail "could not add the second card"
ip -n "$BOARD2_NS" link set eth0 address "$MAC2"
ip -n "$TOPO_HOST_NS" addr add "$TOPO_HOST_IP/24" dev eth2
ip -n "$BOARD2_NS" addr add "$TOPO_BOARD_IP/24" dev eth0
ip -n "$TOPO_HOST_NS" link set eth2 up
ip -n "$BOARD2_NS" link set eth0 up
for _ in $(seq 50); do
  ip -n "$BOARD2_NS" -o link show eth0 | grep -q 'state UP' &&
    ip -n "$TOPO_HOST_NS" -o link show eth2 | grep -q 'state UP' && break
  sleep 0.1
done

# Each fixture has a folder of its own; the images differ in one byte.
for k in 1 2; do
  write_config "$WORK/fix$k" DISABLE
  write_image "$WORK/fix$k" old
done
printf '\x42' | dd of="$WORK/fix2/app.bin" bs=1 seek=4096 conv=notrunc status=none
cat >"$WORK/station.txt" <<END
# bench 1
eth1 $MAC1 $WORK/fix1
eth2 $MAC2 $WORK/fix2   # second fixture
END

# run_station OUT [arguments]: kova-upgrade in the host namespace, without
# the -i of run_cli; then nothing may be left behind.
run_station() {
  LAST_OUT=$1
  shift
  topo_host timeout -k 5 "$CLI_LIMIT" "$CLI" --tick-ms "$TICK_MS" "$@" >"$LAST_OUT" 2>&1
  CLI_RC=$?
  check_no_leftovers
}

# 1. both boards at the same time, from the station file
start_board_at board1 "$TOPO_BOARD_NS" "$MAC1" --platform old --start-in bootloader \
  --flash-file "$WORK/board1.flash"
start_board_at board2 "$BOARD2_NS" "$MAC2" --platform old --start-in bootloader \
  --flash-file "$WORK/board2.flash"
started=$EPOCHREALTIME
run_station "$WORK/out" --station "$WORK/station.txt" upgrade
echo "two cards: $("$PYTHON" -c "print(round($EPOCHREALTIME - $started, 1))")s"
expect_rc 0
expect_line "[eth1] [KOVA Upgrade...] KOVA firmware upgrade ... Successful !"
expect_line "[eth2] [KOVA Upgrade...] KOVA firmware upgrade ... Successful !"
grep -E -v '^\[eth[12]\]( |$)|^CARD |^eth[12] ' "$WORK/out" | grep -q . &&
  fail "a line without its card"
grep -qE "^eth1 +$MAC1 +$TOPO_BOARD_IP +ok " "$WORK/out" || fail "no ok row for eth1"
grep -qE "^eth2 +$MAC2 +$TOPO_BOARD_IP +ok " "$WORK/out" || fail "no ok row for eth2"
stop_board board1
stop_board board2
expect_flash board1 "$WORK/fix1/app.bin"
expect_flash board2 "$WORK/fix2/app.bin"

# 2. -i paired with -m, as JSON: every event carries its card. The board on
# eth2 is silent: its row fails, eth1's board is upgraded, the run ends 1.
start_board_at board1 "$TOPO_BOARD_NS" "$MAC1" --platform old --start-in bootloader \
  --flash-file "$WORK/board1.flash"
start_board_at board2 "$BOARD2_NS" "$MAC2" --silent
LAST_OUT=$WORK/json
topo_host timeout -k 5 "$CLI_LIMIT" "$CLI" --tick-ms "$TICK_MS" --json -C "$WORK/fix1" \
  -i eth1 -m "$MAC1" -i eth2 -m "$MAC2" upgrade >"$LAST_OUT" 2>"$LAST_OUT.err"
CLI_RC=$?
check_no_leftovers
expect_valid_events "$LAST_OUT"
expect_rc 1
expect_event 'all("card" in e for e in events if e["event"] != "summary")' True
expect_event 'sorted((r["card"], r["ok"]) for r in of("result"))' \
  "[('eth1', True), ('eth2', False)]"
expect_event '[(b["card"], b["result"]) for b in of("summary")[0]["boards"]]' \
  "[('eth1', 'ok'), ('eth2', 'failed')]"
expect_event 'of("summary")[0]["exit"]' 1
stop_board board1
stop_board board2
expect_flash board1 "$WORK/fix1/app.bin"

# 3. SIGTERM while both boards are being programmed: every card stops and
# cleans up, both rows say so, the run ends 1.
start_board_at board1 "$TOPO_BOARD_NS" "$MAC1" --platform old --start-in bootloader
start_board_at board2 "$BOARD2_NS" "$MAC2" --platform old --start-in bootloader
LAST_OUT=$WORK/stopped
ip netns exec "$TOPO_HOST_NS" "$CLI" --tick-ms "$TICK_MS" --station "$WORK/station.txt" upgrade \
  >"$LAST_OUT" 2>&1 &
CLI_PID=$!
for _ in $(seq 600); do
  grep -q "DATA : taken" "$WORK/board1.log" && grep -q "DATA : taken" "$WORK/board2.log" && break
  sleep 0.05
done
sigterm_cli 10
wait "$CLI_PID"
CLI_RC=$?
CLI_PID=
check_no_leftovers
expect_rc 1
grep -qE "^eth1 +$MAC1 .* failed +interrupted " "$LAST_OUT" || fail "eth1 did not stop"
grep -qE "^eth2 +$MAC2 .* failed +interrupted " "$LAST_OUT" || fail "eth2 did not stop"
stop_board board1
stop_board board2
echo "PASS"
