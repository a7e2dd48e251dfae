#!/usr/bin/env bash
# The production-line options without a board: --json with every action
# gives only events the schema allows, ending in a result with its reason; a
# batch runs its boards in turn, stops at the first failure unless
# --keep-going, and sums up; the log records each operation. Runs in a
# network namespace of its own without adapters, so every operation fails
# before anything is sent. Exits 77 (skipped) where no namespace can be made.
set -u
# shellcheck source=tests/cli/lib.sh
source "$(dirname "$0")/lib.sh"
own_netns
cli_setup
export XDG_STATE_HOME=$WORK/state
write_config "$WORK" 3 DISABLE app.bin
head -c 4096 /dev/zero >"$WORK/app.bin"

# query FILE EXPRESSION: a Python expression over the events of FILE.
query() {
  python3 - "$1" "$2" <<'PY'
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
def of(name):
    return [e for e in events if e["event"] == name]
print(eval(sys.argv[2]))
PY
}

# expect FILE EXPRESSION VALUE
expect() {
  local got
  got=$(query "$1" "$2")
  [ "$got" = "$3" ] || problem "$(basename "$1"): $2 is '$got', expected '$3'"
}

valid() {
  python3 "$CLI_TESTS/../support/json_events_check.py" \
    "$CLI_TESTS/../../docs/cli-events.schema.json" "$@" >"$WORK/check" ||
    problem "$(cat "$WORK/check")"
}

# --json with each action: stdout holds events only, the last one the result.
for action in upgrade "--dry-run upgrade" version config-reset model-name set-model-name eeprom; do
  name=${action// /}
  # shellcheck disable=SC2086
  "$CLI" --json -C "$WORK" -m "$MAC" $action >"$WORK/$name.json" 2>"$WORK/$name.err"
  rc=$?
  [ "$rc" -eq 1 ] || problem "$action: exit $rc, expected 1"
  valid "$WORK/$name.json"
  expect "$WORK/$name.json" '(events[-1]["event"], events[-1]["ok"], events[-1]["reason"], events[-1]["mac"])' \
    "('result', False, 'bad-input', '$MAC')"
  expect "$WORK/$name.json" '[e["phase"] for e in of("phase")]' "['load', 'done']"
  expect "$WORK/$name.json" 'of("message")[0]["text"]' '
======Load upgarde file ... '
done
"$CLI" --json -C "$WORK" doctor >"$WORK/doctor.json" 2>/dev/null
[ $? -eq 1 ] || problem "doctor without an interface passed"
valid "$WORK/doctor.json"
expect "$WORK/doctor.json" '[(c["name"], c["ok"]) for c in of("check")][0]' "('interface', False)"

# A file that cannot be read is an event as well as a line on stderr.
"$CLI" --json -C "$WORK/none" -m "$MAC" version >/dev/null 2>&1
mkdir "$WORK/empty"
"$CLI" --json -C "$WORK/empty" -m "$MAC" version >"$WORK/file.json" 2>/dev/null
valid "$WORK/file.json"
expect "$WORK/file.json" '[(f["path"], f["reason"]) for f in of("file")]' \
  "[('$WORK/empty/KOVA_Config.cfg', 'no such file')]"
expect "$WORK/file.json" 'of("result")[0]["reason"]' "load-failed"

# A batch stops at its first failure unless --keep-going.
"$CLI" -C "$WORK" -m "$MAC" -m 00:1A:2B:3C:4D:5F version >"$WORK/stop" 2>"$WORK/stop.err"
[ $? -eq 1 ] || problem "a failed batch did not exit 1"
tail -n 3 "$WORK/stop" >"$WORK/stop.table"
printf '%s\n' \
  "MAC                ADDRESS  RESULT   REASON     TIME" \
  "00:1A:2B:3C:4D:5E  -        failed   bad-input  X" \
  "00:1A:2B:3C:4D:5F  -        skipped  -          -" |
  diff - <(sed 's/[0-9.]* s$/X/' "$WORK/stop.table") >/dev/null ||
  problem "summary without --keep-going: $(cat "$WORK/stop.table")"
grep -qxF "kova-upgrade: warning: board $MAC failed; the rest of the batch is skipped (--keep-going goes on)" \
  "$WORK/stop.err" || problem "no word of the skipped board: $(cat "$WORK/stop.err")"
printf '%s\n' "# two boards" "$MAC" "" "00-1a-2b-3c-4d-5f  # the second" >"$WORK/macs"
"$CLI" --json -C "$WORK" --mac-file "$WORK/macs" --keep-going version >"$WORK/all.json" 2>/dev/null
[ $? -eq 1 ] || problem "a failed batch did not exit 1"
valid "$WORK/all.json"
expect "$WORK/all.json" '[(b["mac"], b["result"]) for b in of("summary")[0]["boards"]]' \
  "[('$MAC', 'failed'), ('00:1A:2B:3C:4D:5F', 'failed')]"
expect "$WORK/all.json" 'len(of("result"))' 2

# The log: one file a day, each operation from its start to its result.
log=$XDG_STATE_HOME/kova-upgrade/$(date +%F).log
grep -qE "==== version on \(no interface\), board $MAC \(kova-upgrade, pid [0-9]+\)$" "$log" ||
  problem "no start line in $log"
grep -qE "==== failed: bad-input, board at -|==== failed: bad-input, [0-9.]+ s$" "$log" ||
  problem "no result line in $log"
lines=$(wc -l <"$log")
"$CLI" -C "$WORK" -m "$MAC" --no-log version >/dev/null 2>&1
"$CLI" -C "$WORK" -m "$MAC" --log "$WORK/own.log" version >/dev/null 2>&1
[ "$(wc -l <"$log")" -eq "$lines" ] || problem "--no-log or --log wrote the daily log"
grep -qE "==== failed: bad-input, " "$WORK/own.log" || problem "nothing in --log FILE"

# No bar where stderr is not a terminal: only why the run failed.
[ "$(cat "$WORK/version.err")" = "kova-upgrade: failed: the board's MAC, its address or the \
interface is missing or not usable (bad-input)" ] ||
  problem "stderr of a run: $(cat "$WORK/version.err")"

pass
