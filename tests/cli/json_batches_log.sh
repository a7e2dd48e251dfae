#!/usr/bin/env bash
# The production-line options without a board: --json with every action
# gives only events the schema allows, ending in a result with its reason; a
# batch runs its boards in turn, stops at the first failure unless
# --keep-going, and sums up; the log records each operation. Runs in a
# network namespace of its own without adapters, so every operation fails
# before anything is sent. Exits 77 (skipped) where no namespace can be made.
set -u
cli=$1
here=$(cd "$(dirname "$0")" && pwd)

if [ -z "${KOVA_JSON_NETNS:-}" ]; then
  for ns in "--net" "--net --map-root-user"; do
    # shellcheck disable=SC2086
    if unshare $ns true 2>/dev/null; then
      # shellcheck disable=SC2086
      exec unshare $ns env KOVA_JSON_NETNS=1 bash "$0" "$@"
    fi
  done
  echo "SKIP: cannot make a network namespace"
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_STATE_HOME=$dir/state
failed=0
mac=00:1A:2B:3C:4D:5E
printf '[KOVA_CFG_START]\r\n3\r\nDISABLE\r\napp.bin\r\nbl.bin\r\nupbl.bin\r\n[KOVA_CFG_END]\r\n' \
  >"$dir/KOVA_Config.cfg"
head -c 4096 /dev/zero >"$dir/app.bin"

problem() {
  echo "FAIL: $*"
  failed=1
}

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
  python3 "$here/../support/json_events_check.py" "$here/../../docs/cli-events.schema.json" "$@" \
    >"$dir/check" || problem "$(cat "$dir/check")"
}

# --json with each action: stdout holds events only, the last one the result.
for action in upgrade "--dry-run upgrade" version config-reset model-name set-model-name eeprom; do
  name=${action// /}
  # shellcheck disable=SC2086
  "$cli" --json -C "$dir" -m "$mac" $action >"$dir/$name.json" 2>"$dir/$name.err"
  rc=$?
  [ "$rc" -eq 1 ] || problem "$action: exit $rc, expected 1"
  valid "$dir/$name.json"
  expect "$dir/$name.json" '(events[-1]["event"], events[-1]["ok"], events[-1]["reason"], events[-1]["mac"])' \
    "('result', False, 'bad-input', '$mac')"
  expect "$dir/$name.json" '[e["phase"] for e in of("phase")]' "['load', 'done']"
  expect "$dir/$name.json" 'of("message")[0]["text"]' '
======Load upgarde file ... '
done
"$cli" --json -C "$dir" doctor >"$dir/doctor.json" 2>/dev/null
[ $? -eq 1 ] || problem "doctor without an interface passed"
valid "$dir/doctor.json"
expect "$dir/doctor.json" '[(c["name"], c["ok"]) for c in of("check")][0]' "('interface', False)"

# A file that cannot be read is an event as well as a line on stderr.
"$cli" --json -C "$dir/none" -m "$mac" version >/dev/null 2>&1
mkdir "$dir/empty"
"$cli" --json -C "$dir/empty" -m "$mac" version >"$dir/file.json" 2>/dev/null
valid "$dir/file.json"
expect "$dir/file.json" '[(f["path"], f["reason"]) for f in of("file")]' \
  "[('$dir/empty/KOVA_Config.cfg', 'no such file')]"
expect "$dir/file.json" 'of("result")[0]["reason"]' "load-failed"

# A batch stops at its first failure unless --keep-going.
"$cli" -C "$dir" -m "$mac" -m 00:1A:2B:3C:4D:5F version >"$dir/stop" 2>"$dir/stop.err"
[ $? -eq 1 ] || problem "a failed batch did not exit 1"
tail -n 3 "$dir/stop" >"$dir/stop.table"
printf '%s\n' \
  "MAC                ADDRESS  RESULT   REASON     TIME" \
  "00:1A:2B:3C:4D:5E  -        failed   bad-input  X" \
  "00:1A:2B:3C:4D:5F  -        skipped  -          -" |
  diff - <(sed 's/[0-9.]* s$/X/' "$dir/stop.table") >/dev/null ||
  problem "summary without --keep-going: $(cat "$dir/stop.table")"
grep -qxF "kova-upgrade: warning: board $mac failed; the rest of the batch is skipped (--keep-going goes on)" \
  "$dir/stop.err" || problem "no word of the skipped board: $(cat "$dir/stop.err")"
printf '%s\n' "# two boards" "$mac" "" "00-1a-2b-3c-4d-5f  # the second" >"$dir/macs"
"$cli" --json -C "$dir" --mac-file "$dir/macs" --keep-going version >"$dir/all.json" 2>/dev/null
[ $? -eq 1 ] || problem "a failed batch did not exit 1"
valid "$dir/all.json"
expect "$dir/all.json" '[(b["mac"], b["result"]) for b in of("summary")[0]["boards"]]' \
  "[('$mac', 'failed'), ('00:1A:2B:3C:4D:5F', 'failed')]"
expect "$dir/all.json" 'len(of("result"))' 2

# The log: one file a day, each operation from its start to its result.
log=$XDG_STATE_HOME/kova-upgrade/$(date +%F).log
grep -qE "==== version on \(no interface\), board $mac \(kova-upgrade, pid [0-9]+\)$" "$log" ||
  problem "no start line in $log"
grep -qE "==== failed: bad-input, board at -|==== failed: bad-input, [0-9.]+ s$" "$log" ||
  problem "no result line in $log"
lines=$(wc -l <"$log")
"$cli" -C "$dir" -m "$mac" --no-log version >/dev/null 2>&1
"$cli" -C "$dir" -m "$mac" --log "$dir/own.log" version >/dev/null 2>&1
[ "$(wc -l <"$log")" -eq "$lines" ] || problem "--no-log or --log wrote the daily log"
grep -qE "==== failed: bad-input, " "$dir/own.log" || problem "nothing in --log FILE"

# No bar where stderr is not a terminal.
[ -s "$dir/version.err" ] && problem "stderr of a run: $(cat "$dir/version.err")"

[ "$failed" -eq 0 ] || exit 1
echo "PASS"
