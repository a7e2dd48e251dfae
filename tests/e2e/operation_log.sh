#!/usr/bin/env bash
# The log of every operation: one file a day under
# $XDG_STATE_HOME/kova-upgrade/, with the start, every message, the image
# with its size and SHA-256, the phases, the boxes and the result, a few KB
# an upgrade; the trace lines only with -v; --log FILE writes there instead,
# --no-log writes nothing, and a log that cannot be written costs one
# warning and never the operation.
source "$(dirname "$0")/lib.sh"
e2e_setup
write_config "$WORK/files" DISABLE
write_image "$WORK/files" old
LOG=$XDG_STATE_HOME/kova-upgrade/$(date +%F).log

# expect_logged PATTERN: an extended regular expression matching a whole line.
expect_logged() {
  grep -qxE -- "$1" "$LOG" || fail "no log line matching: $1
--- log:
$(head -n 20 "$LOG")"
}

T='[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}'
# On a terminal, as an engineer runs it: the progress bar on stderr too.
start_board board --platform old --start-in bootloader
LAST_OUT=$WORK/tty.out
topo_host script -qefc "$(printf '%q ' "$CLI" -i "$TOPO_HOST_IF" --tick-ms "$TICK_MS" \
  -m "$TOPO_BOARD_MAC" -C "$WORK/files" upgrade)" "$LAST_OUT" >/dev/null </dev/null
CLI_RC=$?
check_no_leftovers
expect_rc 0
stop_board board
# Redrawn in place with bytes and rate, and cleared before the result.
grep -qaE $'\rprogram +[0-9]+% \\[[#.]{30}\\] [0-9.]+/504\\.0 KiB  [0-9.]+ KiB/s\e\\[K' "$LAST_OUT" ||
  fail "no progress bar while programming"
"$PYTHON" - "$LAST_OUT" <<'EOF' || fail "the bar was not cleared before the result"
import sys
data = open(sys.argv[1], "rb").read()
result = data.find(b"[KOVA Upgrade...] KOVA firmware upgrade ... Successful !")
cleared = data.rfind(b"\r\x1b[K", 0, result)
drawn = data.rfind(b"\rprogram", 0, result)
# The message line the bar covered is put back when it goes.
restored = b"\r\x1b[K======(7). Program ... Successful !======" in data
sys.exit(0 if 0 < drawn < cleared and b"\rprogram" not in data[result:] and restored else 1)
EOF
[ -f "$LOG" ] || fail "no log at $LOG: $(ls -R "$XDG_STATE_HOME")"
expect_logged "[0-9]{4}-[0-9]{2}-[0-9]{2} $T ==== upgrade on eth1, board $TOPO_BOARD_MAC \(kova-upgrade, pid [0-9]+\)"
expect_logged "$T ======Load upgarde file \.\.\. Successful !======"
expect_logged "$T ======\(7\)\. Program \.\.\. Successful !======Successful !======"
expect_logged "$T ==== image $WORK/files/app\.bin, 512000 bytes, sha256 $(sha256sum "$WORK/files/app.bin" | cut -d' ' -f1)"
expect_logged "$T ==== phase program, board $TOPO_BOARD_MAC at 192\.168\.100\.2, 516096 bytes to send"
# Without -v no trace line, no byte dump: an upgrade takes a few KB.
grep -qF "UDP client create" "$LOG" && fail "a trace line logged without -v"
[ "$(wc -c <"$LOG")" -le 20000 ] || fail "an upgrade took $(wc -c <"$LOG") bytes of the log"
expect_logged "$T \[\.\.\. KOVA checkcode\] Old platform"
expect_logged "$T \[KOVA Upgrade\.\.\.\] KOVA firmware upgrade \.\.\. Successful !"
expect_logged "$T Power Restart !"
expect_logged "$T ==== ok, board at 192\.168\.100\.2, [0-9]+\.[0-9] s"
# The result comes after the box that ended the operation.
awk '/\[KOVA Upgrade\.\.\.\]/ { box = NR } /==== ok, / { end = NR }
     END { exit (box && end > box) ? 0 : 1 }' "$LOG" || fail "the result precedes the last box"

# A failure carries its reason.
start_board board --silent
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/files" version
expect_rc 1
stop_board board
grep -qaF $'\e[K' "$WORK/out" && fail "a progress bar where stderr is not a terminal"
expect_logged "[0-9-]{10} $T ==== version on eth1, board $TOPO_BOARD_MAC \(kova-upgrade, pid [0-9]+\)"
expect_logged "$T ==== failed: no-reply, board at 192\.168\.100\.2, [0-9]+\.[0-9] s"
lines=$(wc -l <"$LOG")

# --log FILE and --no-log leave the daily file alone; -v logs the traces.
start_board board --platform old
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/files" --log "$WORK/bench.log" -v version
expect_rc 0
grep -qE "==== ok, board at 192\.168\.100\.2" "$WORK/bench.log" || fail "nothing in --log FILE"
grep -qE "^$T     Broadcast Socket\(Client\) create \.\.\. Successful !$" "$WORK/bench.log" ||
  fail "no trace line logged with -v"
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/files" --no-log version
expect_rc 0
[ "$(wc -l <"$LOG")" -eq "$lines" ] || fail "the daily log grew with --log or --no-log"

# A log that cannot be written: one warning, the operation as ever.
run_cli "$WORK/out" -m "$TOPO_BOARD_MAC" -C "$WORK/files" --log "$WORK/no/such/dir/x.log" version
expect_rc 0
expect_line "KOVA Application firmware is v0.107 !"
[ "$(grep -c '^kova-upgrade: warning: cannot write the log' "$WORK/out")" -eq 1 ] ||
  fail "not exactly one warning about the log"
stop_board board
echo "PASS"
