#!/usr/bin/env bash
# Usage errors name what is wrong in one line, then where to read more, exit
# 2 and run nothing.
set -u
# shellcheck source=tests/cli/lib.sh
source "$(dirname "$0")/lib.sh"
cli_setup

# expect_usage LINE ARGS...: LINE is the first line on stderr, the pointer
# to the help the second and last.
expect_usage() {
  local want=$1
  shift
  "$CLI" -C "$WORK" "$@" >"$WORK/out" 2>"$WORK/err"
  local rc=$?
  local got
  got=$(cat "$WORK/err")
  if [ "$rc" -ne 2 ] || [ "$got" != "$want"$'\n'"Try 'kova-upgrade --help'" ] ||
    [ -s "$WORK/out" ]; then
    problem "$(printf '[%s] ' "$@")"
    echo "  exit $rc, expected 2; stderr: $got"
    echo "  expected stderr: $want"
    [ -s "$WORK/out" ] && echo "  stdout was not empty"
  fi
}

# A station's cards are checked before anything runs.
expect_usage "kova-upgrade: unknown interface: nosuch0" \
  -i nosuch0 -m "$MAC" -i nosuch1 -m 00:1A:2B:3C:4D:5F upgrade
expect_usage "kova-upgrade: unequal counts: 2 -i for 1 -m; several -i pair each with the -m in its place" \
  -i nosuch0 -i nosuch1 -m "$MAC" upgrade
for action in upgrade version config-reset model-name set-model-name eeprom; do
  expect_usage "kova-upgrade: no MAC address given: $action needs -m MAC" "$action"
done
expect_usage "kova-upgrade: empty interface name: -i needs a name or an IPv4 address" \
  -i '' -m "$MAC" version
expect_usage "kova-upgrade: empty interface name: -i needs a name or an IPv4 address" \
  --interface= -m "$MAC" version
for ip in 1.2.3 1.2.3.4.5 256.1.1.1 1.2.3.x 1234.1.1.1 ' 1.2.3.4' ''; do
  expect_usage "kova-upgrade: unparsable IP address: $ip" --ip "$ip" -m "$MAC" model-name
done
# A MAC or an address no board can have.
while read -r option value why; do
  expect_usage "kova-upgrade: $why: $value" -m "$MAC" "$option" "$value" model-name
done <<'CASES'
--ip 255.255.255.255 broadcast IP address
--ip 127.0.0.1 loopback IP address
--ip 224.0.0.251 multicast IP address
--ip 0.0.0.0 unspecified IP address
-m FF:FF:FF:FF:FF:FF broadcast MAC address
-m 01-00-5E-00-00-FB multicast MAC address
-m 000000000000 all-zero MAC address
CASES
printf '%s\n' "$MAC" "ff:ff:ff:ff:ff:ff" >"$WORK/macs"
expect_usage "kova-upgrade: $WORK/macs:2: broadcast MAC address: ff:ff:ff:ff:ff:ff" \
  --mac-file "$WORK/macs" upgrade
for opt in -i -m -d -C --interface --mac --delay --ip --directory --tick-ms; do
  expect_usage "kova-upgrade: option needs a value: $opt" -m "$MAC" "$opt"
done
expect_usage "kova-upgrade: unknown option: -x" -x -m "$MAC" version
expect_usage "kova-upgrade: unknown option: -x" -xv -m "$MAC" version
expect_usage "kova-upgrade: option needs a value: -m" -vm
expect_usage "kova-upgrade: unknown option: --bogus" --bogus -m "$MAC" version

# The production-line options.
printf '%s\n' "# tray 1" "$MAC" "" "00:1A:2B:3C:4D" >"$WORK/macs"
expect_usage "kova-upgrade: $WORK/macs:4: unparsable MAC address: 00:1A:2B:3C:4D" \
  --mac-file "$WORK/macs" upgrade
expect_usage "kova-upgrade: cannot read the MAC file: $WORK/none: No such file or directory" \
  --mac-file "$WORK/none" upgrade
printf '%s\n' "$MAC" "# the same board again" "${MAC//:/}" >"$WORK/macs"
expect_usage "kova-upgrade: duplicate MAC address: $MAC ($WORK/macs:1 and $WORK/macs:3)" \
  --mac-file "$WORK/macs" upgrade
expect_usage "kova-upgrade: not a directory: $WORK/none: No such file or directory" \
  -C "$WORK/none" -m "$MAC" version
expect_usage "kova-upgrade: exactly one ACTION expected" version -m "$MAC" eeprom
expect_usage "kova-upgrade: --dry-run goes with upgrade only" -m "$MAC" --dry-run eeprom
expect_usage "kova-upgrade: --log and --no-log exclude each other" -m "$MAC" --log x --no-log \
  version
expect_usage "kova-upgrade: unparsable MAC address: 00:1A" -m "$MAC" -m 00:1A version

pass
