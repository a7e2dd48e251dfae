# shellcheck shell=bash
# Shared by the command line's tests: kova-upgrade from $1, a working
# directory removed on exit (with a run still in the background ended), a
# network namespace of the test's own where it asks for one, and the checks.
# A test sources this with its arguments and calls cli_setup before the
# rest (own_netns or own_netns_as_root before that, where it wants one); a
# missing program is a failure, a missing namespace a skip (77).

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  echo "SKIP: tests/cli/lib.sh is sourced by the tests and is none itself"
  exit 77
fi

CLI=${1:?usage: $0 KOVA_UPGRADE}
CLI_ARGS=("$@")
# shellcheck disable=SC2034 # for the tests
CLI_TESTS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# A board that no test reaches.
# shellcheck disable=SC2034 # for the tests
MAC=00:1A:2B:3C:4D:5E
WORK=
# The output fail shows: the last run's.
LAST_OUT=
# A run in the background, ended when the test ends first.
CLI_PID=
FAILED=0

skip() {
  echo "SKIP: $*"
  exit 77
}

# fail MESSAGE: the test ends here, failed.
fail() {
  echo "FAIL: $*"
  if [ -n "$LAST_OUT" ]; then
    echo "--- output:"
    cat "$LAST_OUT"
  fi
  exit 1
}

# problem MESSAGE: a check failed; the test goes on, and pass fails it.
problem() {
  echo "FAIL: $*"
  FAILED=1
}

pass() {
  [ "$FAILED" -eq 0 ] || exit 1
  echo "PASS"
}

cli_teardown() {
  if [ -n "$CLI_PID" ]; then
    kill -KILL "$CLI_PID" 2>/dev/null
    wait "$CLI_PID" 2>/dev/null
  fi
  [ -n "$WORK" ] && rm -rf "$WORK"
}

# cli_setup: the working directory WORK, removed on exit.
cli_setup() {
  [ -x "$CLI" ] || fail "no kova-upgrade at $CLI"
  WORK=$(mktemp -d)
  trap cli_teardown EXIT
}

# own_netns: the test runs again in a network namespace of its own, in a
# user namespace too where it is not root. The namespace goes away with the
# last process in it.
own_netns() {
  netns_exec "--net" "--net --map-root-user"
}

# own_netns_as_root: the same, for a test that needs root.
own_netns_as_root() {
  [ "$(id -u)" -eq 0 ] || skip "not root"
  netns_exec "--net"
}

# netns_exec "UNSHARE OPTIONS"...: the first way that works.
netns_exec() {
  [ -n "${KOVA_CLI_TEST_NETNS:-}" ] && return 0
  local way options
  for way in "$@"; do
    read -ra options <<<"$way"
    if unshare "${options[@]}" true 2>/dev/null; then
      exec unshare "${options[@]}" env KOVA_CLI_TEST_NETNS=1 bash "$0" "${CLI_ARGS[@]}"
    fi
  done
  skip "cannot make a network namespace"
}

# write_config DIR RUNSTEP SETTING APP [BOOTLOADER UPDATER]: a valid
# KOVA_Config.cfg in DIR.
write_config() {
  printf '[KOVA_CFG_START]\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n[KOVA_CFG_END]\r\n' \
    "$2" "$3" "$4" "${5:-bl.bin}" "${6:-upbl.bin}" >"$1/KOVA_Config.cfg"
}

# expect_status GOT WANT WHAT: an exit status.
expect_status() {
  [ "$1" -eq "$2" ] || fail "$3: exit status $1, expected $2"
}

# expect_line LINE [MESSAGE]: a line of the last run's output, whole.
expect_line() {
  local missing="no line '$1'"
  grep -qxF -- "$1" "$LAST_OUT" || fail "${2:-$missing}"
}

# expect_no_text TEXT [MESSAGE]: TEXT nowhere in the last run's output.
expect_no_text() {
  local found="unexpected '$1'"
  grep -qF -- "$1" "$LAST_OUT" && fail "${2:-$found}"
  return 0
}
