# shellcheck shell=bash
# Shared by the end-to-end tests: the topology, the emulated board, runs of
# kova-upgrade in the host namespace and the checks on what they left.
# A test sources this with the CLI and the simulator as $1 and $2.
#
# With KOVA_E2E_WINDOWS=1 the CLI is tests/wine/kova-upgrade-wine.sh, the
# Windows kova-upgrade (KOVA_WINDOWS_EXE) under Wine, which gives every
# namespace it runs in a copy of the base prefix (KOVA_WINEPREFIX); the
# copies and their servers are this run's, made under WINE_PREFIXES and
# ended with it.

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/e2e/topology.sh
source "$E2E_DIR/topology.sh"

CLI=${1:?usage: $0 KOVA_UPGRADE BOARD_SIM}
SIM=${2:?usage: $0 KOVA_UPGRADE BOARD_SIM}
PYTHON=${KOVA_PYTHON:-python3}
TICK_MS=20
WORK=
LAST_OUT=
CLI_PID=
declare -A BOARD_PID=()
declare -A WATCH_PID=()
E2E_WINDOWS=${KOVA_E2E_WINDOWS:-0}
# The bound on one kova-upgrade run: a hang ends there. Under Wine, with two
# scripts beside each other on a small machine, a run takes up to three times
# as long as on Linux.
CLI_LIMIT=90
[ "$E2E_WINDOWS" = 1 ] && CLI_LIMIT=240
# With KOVA_E2E_STRICT=1 every board runs --strict, and stop_board checks that
# it recorded no protocol error.
E2E_STRICT=${KOVA_E2E_STRICT:-0}
WINE_PREFIXES=
LINUX_SIDE_ENTRY=0

fail() {
  echo "FAIL: $*"
  if [ -n "$LAST_OUT" ] && [ -f "$LAST_OUT" ]; then
    echo "--- output of the last kova-upgrade run ($LAST_OUT):"
    cat "$LAST_OUT"
  fi
  local log
  for log in "$WORK"/*.log; do
    [ -f "$log" ] || continue
    echo "--- $(basename "$log"):"
    tail -n 40 "$log"
  done
  exit 1
}

e2e_teardown() {
  if [ -n "$CLI_PID" ]; then
    kill -KILL "$CLI_PID" 2>/dev/null
    wait "$CLI_PID" 2>/dev/null
  fi
  local name
  for name in "${!BOARD_PID[@]}"; do
    kill -TERM "${BOARD_PID[$name]}" 2>/dev/null
    wait "${BOARD_PID[$name]}" 2>/dev/null
  done
  BOARD_PID=()
  for name in "${!WATCH_PID[@]}"; do
    kill -TERM "${WATCH_PID[$name]}" 2>/dev/null
    wait "${WATCH_PID[$name]}" 2>/dev/null
  done
  WATCH_PID=()
  [ -n "$WINE_PREFIXES" ] && wine_teardown
  topo_remove
  [ -n "$WORK" ] && rm -rf "$WORK"
}

# Skips (77) where namespaces cannot be made; otherwise builds the topology
# and a working directory that are removed whatever happens.
e2e_setup() {
  [ -x "$CLI" ] || fail "no kova-upgrade at $CLI"
  [ -f "$SIM" ] || fail "no board simulator at $SIM"
  if ! topo_possible; then
    echo "SKIP: this process cannot create network namespaces"
    exit 77
  fi
  [ "$E2E_WINDOWS" = 1 ] && wine_check
  WORK=$(mktemp -d)
  # Every run logs its operations; here, not in the user's own state.
  export XDG_STATE_HOME=$WORK/state
  trap e2e_teardown EXIT
  trap 'exit 1' INT TERM
  [ "$E2E_WINDOWS" = 1 ] && wine_setup
  if [ -n "${E2E_SEGMENT_BOARDS:-}" ]; then
    topo_create_segment "$E2E_SEGMENT_BOARDS" || fail "could not create the segment"
  else
    topo_create || fail "could not create the topology"
  fi
}

wine_check() {
  if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
    echo "SKIP: no Wine to run the Windows kova-upgrade in"
    exit 77
  fi
  [ -f "${KOVA_WINDOWS_EXE:-}" ] || fail "no kova-upgrade.exe at '${KOVA_WINDOWS_EXE:-}'"
  [ -f "${KOVA_WINEPREFIX:-}/system.reg" ] ||
    fail "no Wine prefix at '${KOVA_WINEPREFIX:-}' (scripts/build-windows.sh makes it)"
}

# The copies are hard links, so they go on the base prefix's file system.
wine_setup() {
  if [ "$(stat -c %d "$WORK")" = "$(stat -c %d "$KOVA_WINEPREFIX")" ]; then
    WINE_PREFIXES=$WORK/wine
  else
    WINE_PREFIXES=$(mktemp -d "$KOVA_WINEPREFIX.e2e.XXXXXX") || fail "no room for the prefixes"
  fi
  export KOVA_WINE_PREFIXES=$WINE_PREFIXES
  echo "Windows: $KOVA_WINDOWS_EXE under Wine, one prefix per namespace in $WINE_PREFIXES"
}

# Ends each copy's server and what it started, then whatever of them is
# still in this run's namespaces, by pid, before the namespaces go.
wine_teardown() {
  local prefix ns pid
  for prefix in "$WINE_PREFIXES"/*/; do
    [ -f "$prefix/system.reg" ] || continue
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 </dev/null
  done
  local busy
  for _ in $(seq 50); do
    busy=
    for ns in "${TOPO_CREATED[@]}"; do
      busy+=$(ip netns pids "$ns" 2>/dev/null)
    done
    [ -z "$busy" ] && break
    sleep 0.1
  done
  for ns in "${TOPO_CREATED[@]}"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
      kill -KILL "$pid" 2>/dev/null
    done
  done
  # Wine names a server's directory by its prefix's device and inode.
  local dir
  for prefix in "$WINE_PREFIXES"/*/; do
    dir=server-$(stat -c %D "$prefix")-$(printf %x "$(stat -c %i "$prefix")")
    rm -rf "${TMPDIR:-/tmp}"/wine-*/"$dir" "${TMPDIR:-/tmp}/.wine-$(id -u)/$dir"
  done
  [ "$WINE_PREFIXES" = "$WORK/wine" ] || rm -rf "$WINE_PREFIXES"
  WINE_PREFIXES=
}

# start_board NAME [simulator options]: runs a board in the board namespace
# and returns once it listens. Its report is $WORK/NAME.json after stop_board.
start_board() {
  local name=$1
  shift
  start_board_at "$name" "$TOPO_BOARD_NS" "$TOPO_BOARD_MAC" "$@"
}

# start_board_at NAME NAMESPACE MAC [simulator options]: as start_board, for
# a board of the segment.
start_board_at() {
  local name=$1 ns=$2 mac=$3
  shift 3
  [ "$E2E_STRICT" = 1 ] && set -- --strict "$@"
  rm -f "$WORK/$name.ready" "$WORK/$name.json"
  # Started directly, not through a shell function, so that $! is the
  # board's own pid (`ip netns exec` becomes the program it runs).
  ip netns exec "$ns" "$PYTHON" "$SIM" --mac "$mac" --ip "$TOPO_BOARD_IP" \
    --report "$WORK/$name.json" --ready-file "$WORK/$name.ready" --verbose "$@" \
    2>"$WORK/$name.log" &
  BOARD_PID[$name]=$!
  for _ in $(seq 100); do
    if [ -s "$WORK/$name.ready" ]; then
      [ "$(cat "$WORK/$name.ready")" = "${BOARD_PID[$name]}" ] ||
        fail "board $name runs under another pid"
      return 0
    fi
    kill -0 "${BOARD_PID[$name]}" 2>/dev/null || fail "board $name ended at start"
    sleep 0.05
  done
  fail "board $name did not start listening"
}

stop_board() {
  local name=$1
  end_power_cycle_watch "$name"
  kill -TERM "${BOARD_PID[$name]}" 2>/dev/null
  wait "${BOARD_PID[$name]}"
  local status=$?
  unset "BOARD_PID[$name]"
  [ "$status" -eq 0 ] || fail "board $name exited with status $status"
  [ -s "$WORK/$name.json" ] || fail "board $name wrote no report"
  [ "$E2E_STRICT" = 1 ] && expect_no_protocol_errors "$name"
  return 0
}

# The host kept to the board's rules: one ISP line per datagram, remote
# commands in their order.
expect_no_protocol_errors() {
  expect_report "$1" '[e for part in ("isp", "remote")
    for e in (report.get(part) or {}).get("protocol_errors", [])]' "[]"
}

# power_cycle_when NAME FILE PATTERN [TIMEOUT]: in the background, power
# cycles board NAME (SIGUSR1) once FILE holds a line matching PATTERN (grep
# -E), if that happens within TIMEOUT seconds (default 60). The watcher reads
# FILE from its start at once: give it a file no earlier run has written. stop_board or the
# script's end ends the watcher.
power_cycle_when() {
  local name=$1 file=$2 pattern=$3 timeout=${4:-60} board=${BOARD_PID[$1]}
  (
    for _ in $(seq $((timeout * 20))); do
      if grep -qE -- "$pattern" "$file" 2>/dev/null; then
        kill -USR1 "$board"
        exit 0
      fi
      sleep 0.05
    done
  ) &
  WATCH_PID[power-$name]=$!
}

end_power_cycle_watch() {
  local watcher=${WATCH_PID[power-$1]:-}
  [ -n "$watcher" ] || return 0
  kill -TERM "$watcher" 2>/dev/null
  wait "$watcher" 2>/dev/null
  unset "WATCH_PID[power-$1]"
}

# KOVA_Config.cfg with run step 3 (application image only) and the given
# jump setting, CR LF lines.
write_config() {
  local dir=$1 setting=$2
  mkdir -p "$dir"
  printf '[KOVA_CFG_START]\r\n3\r\n%s\r\napp.bin\r\nbl.bin\r\nupbl.bin\r\n[KOVA_CFG_END]\r\n' \
    "$setting" >"$dir/KOVA_Config.cfg"
}

# write_image DIR new|old: an application image carrying that platform's mark.
write_image() {
  "$PYTHON" - "$1/app.bin" "$2" <<'EOF'
import sys
path, platform = sys.argv[1], sys.argv[2]
offset, size = (0x13E, 0x800) if platform == "new" else (0x7CFF0, 0x7D000)
image = bytearray((i * 7) & 0xFF for i in range(size))
image[offset:offset + 2] = b"\xaa\x55"
open(path, "wb").write(image)
EOF
}

# write_new_image DIR SIZE: a new-platform application image of SIZE bytes
# that repeats nowhere, so that a block served in the place of another shows.
write_new_image() {
  "$PYTHON" - "$1/app.bin" "$2" <<'EOF'
import random, sys
path, size = sys.argv[1], int(sys.argv[2])
image = bytearray(random.Random(size).randbytes(size))
image[0x13E:0x140] = b"\xaa\x55"
open(path, "wb").write(image)
EOF
}

# write_srecords DIR RECORDS [KIND]: app.bin as an S0 header, RECORDS S3
# records of 16 bytes and an S7 end record; CR LF. KIND: "none" leaves the
# end record out, "count" puts an S5 count record before it; "checksum",
# "digit" and "byte-count" break the second data record; "after-end" adds
# a data record after the end record, "wrong-count" a count record that
# misses one.
write_srecords() {
  "$PYTHON" - "$1/app.bin" "$2" "${3:-sound}" <<'EOF'
import sys
path, count, kind = sys.argv[1], int(sys.argv[2]), sys.argv[3]
def record(kind, address, size, data):
    body = bytes([size + len(data) + 1]) + address.to_bytes(size, "big") + data
    return "S%d%s%02X" % (kind, body.hex().upper(), ~sum(body) & 0xFF)
lines = [record(0, 0, 2, b"kova-remote")]
for i in range(count):
    lines.append(record(3, 0x8000 + 16 * i, 4, bytes((i * 16 + k) * 7 & 0xFF for k in range(16))))
if kind in ("count", "wrong-count"):
    lines.append(record(5, count - (kind == "wrong-count"), 2, b""))
if kind != "none":
    lines.append(record(7, 0x8000, 4, b""))
broken = lines[2]
if kind == "checksum":
    lines[2] = broken[:-1] + ("0" if broken[-1] != "0" else "1")
elif kind == "digit":
    lines[2] = broken[:20] + "G" + broken[21:]
elif kind == "byte-count":
    lines[2] = broken[:2] + "%02X" % (int(broken[2:4], 16) + 1) + broken[4:]
elif kind == "after-end":
    lines.append(broken)
open(path, "wb").write(b"".join(l.encode() + b"\r\n" for l in lines))
EOF
}

# expect_lines_as_in_file NAME DIR: the board received every line of the file,
# in order, without its CR LF, and found no checksum wrong.
expect_lines_as_in_file() {
  "$PYTHON" - "$WORK/$1.json" "$2/app.bin" <<'EOF' || fail "board $1: the lines differ from the file"
import json, sys
remote = json.load(open(sys.argv[1]))["remote"]
lines = open(sys.argv[2], "rb").read().decode().split("\r\n")[:-1]
if remote["lines"] != lines:
    got = remote["lines"]
    first = next((i for i in range(min(len(got), len(lines))) if got[i] != lines[i]), None)
    sys.exit("%d lines received, %d in the file, first difference at %s" % (len(got), len(lines), first))
if remote["bad_lines"]:
    sys.exit("bad lines: %s" % remote["bad_lines"][:3])
EOF
}

# run_cli OUT [kova-upgrade arguments]: in the host namespace, on the board's
# interface, with the board's MAC; sets CLI_RC. Then checks that the run left
# no socket and no permanent neighbour entry behind.
run_cli() {
  LAST_OUT=$1
  shift
  entry_from_linux_side
  topo_host timeout -k 5 "$CLI_LIMIT" "$CLI" -i "$TOPO_HOST_IF" --tick-ms "$TICK_MS" "$@" >"$LAST_OUT" 2>&1
  CLI_RC=$?
  entry_removed_from_linux_side
  check_no_leftovers
}

# run_cli_json OUT [arguments]: as run_cli with --json, stdout alone in OUT
# (stderr in OUT.err), every line of it checked against the event schema.
run_cli_json() {
  LAST_OUT=$1
  shift
  entry_from_linux_side
  topo_host timeout -k 5 "$CLI_LIMIT" "$CLI" -i "$TOPO_HOST_IF" --tick-ms "$TICK_MS" --json "$@" \
    >"$LAST_OUT" 2>"$LAST_OUT.err"
  CLI_RC=$?
  entry_removed_from_linux_side
  check_no_leftovers
  expect_valid_events "$LAST_OUT"
}

EVENT_SCHEMA=$E2E_DIR/../../docs/cli-events.schema.json
EVENT_CHECK=$E2E_DIR/../support/json_events_check.py

expect_valid_events() {
  "$PYTHON" "$EVENT_CHECK" "$EVENT_SCHEMA" "$1" >"$WORK/events.check" ||
    fail "$(cat "$WORK/events.check")"
}

# event_query FILE EXPRESSION: a Python expression over the events of a
# --json run, `events` the list of objects and of(name) those of one kind.
event_query() {
  "$PYTHON" - "$1" "$2" <<'EOF'
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
def of(name):
    return [e for e in events if e["event"] == name]
print(eval(sys.argv[2]))
EOF
}

expect_event() {
  local got
  got=$(event_query "$LAST_OUT" "$1")
  [ "$got" = "$2" ] || fail "events: $1 is '$got', expected '$2'"
}

# start_cli OUT [arguments]: as run_cli, in the background; CLI_PID is its
# own pid. finish_cli waits for it, sets CLI_RC and checks what it left.
start_cli() {
  LAST_OUT=$1
  shift
  entry_from_linux_side
  ip netns exec "$TOPO_HOST_NS" "$CLI" -i "$TOPO_HOST_IF" --tick-ms "$TICK_MS" "$@" \
    >"$LAST_OUT" 2>&1 &
  CLI_PID=$!
}

finish_cli() {
  wait "$CLI_PID"
  CLI_RC=$?
  CLI_PID=
  entry_removed_from_linux_side
  check_no_leftovers
}

# sigterm_cli SECONDS: SIGTERM to the job started last; fails unless it has
# ended within SECONDS. finish_cli (or a wait) then takes its status.
sigterm_cli() {
  kill -TERM "$CLI_PID"
  for _ in $(seq $(($1 * 10))); do
    kill -0 "$CLI_PID" 2>/dev/null || return 0
    sleep 0.1
  done
  fail "kova-upgrade still ran $1 s after SIGTERM"
}

# wait_board_heard NAME COMMAND: until the board has logged that request.
wait_board_heard() {
  for _ in $(seq 1000); do
    grep -q " $2 " "$WORK/$1.log" && return 0
    sleep 0.01
  done
  fail "no $2 reached board $1"
}

# wait_host_port PORT: until a UDP socket is bound to PORT in the host namespace.
wait_host_port() {
  for _ in $(seq 500); do
    topo_host ss -H -uan "sport = :$1" | grep -q . && return 0
    sleep 0.01
  done
  fail "nothing bound to UDP port $1 in the host namespace"
}

# start_watch NAME INTERFACE: records the IPv4 UDP datagrams crossing that
# interface of the host namespace; stop_watch NAME leaves them in
# $WORK/NAME.udp.json, and watch_query NAME EXPRESSION evaluates a Python
# expression over them as `seen`.
start_watch() {
  local name=$1
  rm -f "$WORK/$name.watching"
  ip netns exec "$TOPO_HOST_NS" "$PYTHON" "$E2E_DIR/udp_watch.py" "$2" "$WORK/$name.udp.json" \
    "$WORK/$name.watching" 2>"$WORK/$name.watch.log" &
  WATCH_PID[$name]=$!
  for _ in $(seq 100); do
    [ -s "$WORK/$name.watching" ] && return 0
    kill -0 "${WATCH_PID[$name]}" 2>/dev/null || fail "the watch on $2 ended at start"
    sleep 0.05
  done
  fail "the watch on $2 did not start"
}

stop_watch() {
  kill -TERM "${WATCH_PID[$1]}" 2>/dev/null
  wait "${WATCH_PID[$1]}" || fail "the watch $1 failed"
  unset "WATCH_PID[$1]"
}

watch_query() {
  "$PYTHON" -c 'import json, sys
seen = json.load(open(sys.argv[1]))
print(eval(sys.argv[2]))' "$WORK/$1.udp.json" "$2"
}

# Under Wine the tool's calls that make and remove the board's neighbour
# entry (CreateIpNetEntry, DeleteIpNetEntry) report success and change
# nothing, while its check that the entry is there reads the real table. So
# a Windows run of an upgrade, which pins the board's address, finds the
# entry put in from the Linux side before it, and it is removed after the
# run, before the check for leftovers. A script whose runs need it calls this
# once; on Linux the tool makes and removes the entry itself, and this does
# nothing.
linux_side_neighbour_entry() {
  [ "$E2E_WINDOWS" = 1 ] || return 0
  LINUX_SIDE_ENTRY=1
  echo "Windows: for each run the board's neighbour entry is put in from the Linux side" \
    "(ip neigh replace ... nud permanent) and removed after it; under Wine the tool's" \
    "CreateIpNetEntry and DeleteIpNetEntry change nothing"
}

entry_from_linux_side() {
  [ "$LINUX_SIDE_ENTRY" = 1 ] || return 0
  topo_host ip neigh replace "$TOPO_BOARD_IP" lladdr "$TOPO_BOARD_MAC" dev "$TOPO_HOST_IF" \
    nud permanent || fail "could not put in the board's neighbour entry"
}

# Gone already, it was removed by what should not remove it under Wine.
entry_removed_from_linux_side() {
  [ "$LINUX_SIDE_ENTRY" = 1 ] || return 0
  [ -n "$(topo_host ip -4 neigh show "$TOPO_BOARD_IP" dev "$TOPO_HOST_IF" nud permanent)" ] ||
    fail "the neighbour entry put in from the Linux side was gone after the run"
  topo_host ip neigh del "$TOPO_BOARD_IP" dev "$TOPO_HOST_IF" ||
    fail "could not remove the neighbour entry put in from the Linux side"
}

# expect_entry_used_and_removed: in the traces (-v) of a Windows run with
# the entry from the Linux side, the tool found the entry in place and
# reported removing it; what it can show where its own calls change nothing.
expect_entry_used_and_removed() {
  expect_line "Static IP Address($TOPO_BOARD_IP) ... Exist !"
  expect_line "Delete static IP Address ($TOPO_BOARD_IP) ... Successful !"
}

check_no_leftovers() {
  local neighbours sockets
  neighbours=$(topo_host ip neigh show nud permanent)
  [ -z "$neighbours" ] || fail "permanent neighbour entries left: $neighbours"
  sockets=$(topo_host ss -H -uan)
  [ -z "$sockets" ] || fail "UDP sockets left in the host namespace: $sockets"
}

expect_rc() {
  [ "$CLI_RC" -eq "$1" ] || fail "kova-upgrade exited $CLI_RC, expected $1"
}

expect_line() {
  grep -qxF -- "$1" "$LAST_OUT" || fail "no line '$1'"
}

expect_no_line() {
  grep -qxF -- "$1" "$LAST_OUT" && fail "unexpected line '$1'"
  return 0
}

# expect_line_then_prefix LINE_1 PREFIX_2: a line equal to LINE_1 whose next
# line begins with PREFIX_2.
expect_line_then_prefix() {
  awk -v first="$1" -v second="$2" '
    found && index($0, second) == 1 { ok = 1; exit }
    { found = ($0 == first) }
    END { exit ok ? 0 : 1 }' "$LAST_OUT" || fail "no line '$1' followed by a line '$2...'"
}

# With -v every socket the run created is closed again by the engine.
expect_sockets_closed() {
  local made closed
  made=$(grep -cxF '    Broadcast Socket(Client) create ... Successful !' "$LAST_OUT")
  closed=$(grep -cxF '    Broadcast Socket close ... Successful !' "$LAST_OUT")
  [ "$made" -eq "$closed" ] || fail "broadcast socket created $made times, closed $closed times"
  local udp_made udp_closed
  udp_made=$(grep -cxF '    UDP client create ... Successful !' "$LAST_OUT")
  udp_closed=$(grep -cxF '    UDP Socket close ... Successful !' "$LAST_OUT")
  [ "$udp_made" -eq "$udp_closed" ] || fail "UDP socket created $udp_made times, closed $udp_closed"
  [ $((made + udp_made)) -gt 0 ] || fail "no socket creation traced"
}

# report_query NAME EXPRESSION: evaluates a Python expression over the
# board's report, with `received` the list of received datagrams and the
# helpers requests() and gaps().
report_query() {
  "$PYTHON" - "$WORK/$1.json" "$2" <<'EOF'
import json, sys
report = json.load(open(sys.argv[1]))
received = report["received"]
def requests(name, outcome=None):
    return [r for r in received
            if r.get("command") == name and (outcome is None or r["outcome"] == outcome)]
def gaps(name):  # seconds between consecutive requests of a kind
    times = [r["t"] for r in requests(name)]
    return [round(b - a, 3) for a, b in zip(times, times[1:])]
print(eval(sys.argv[2]))
EOF
}

expect_report() {
  local got
  got=$(report_query "$1" "$2")
  [ "$got" = "$3" ] || fail "board $1: $2 is '$got', expected '$3'"
}

# expect_flash NAME IMAGE: board NAME's flash (its --flash-file
# $WORK/NAME.flash) holds IMAGE padded with 0xFF over the application region,
# and sectors 0-1 still hold the bootloader the emulated board starts with.
expect_flash() {
  "$PYTHON" - "$WORK/$1.flash" "$2" <<'EOF' || fail "board $1: flash differs"
import sys
flash = open(sys.argv[1], "rb").read()
image = open(sys.argv[2], "rb").read()
region = 516096
bootloader = bytes((i * 7 + 3) & 0xFF for i in range(8192))
expected = image[:region].ljust(region, b"\xff")
if len(flash) != 8192 + region:
    sys.exit("flash holds %d bytes" % len(flash))
if flash[:8192] != bootloader:
    sys.exit("sectors 0-1 changed")
if flash[8192:] != expected:
    first = next(i for i in range(region) if flash[8192 + i] != expected[i])
    sys.exit("first difference at 0x%X" % (8192 + first))
EOF
}
