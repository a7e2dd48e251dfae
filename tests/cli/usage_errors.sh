#!/usr/bin/env bash
# Usage errors name what is wrong, exit 2 and run nothing.
set -u
cli=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0

# expect_usage LINE ARGS...: LINE is the first line on stderr.
expect_usage() {
  local want=$1
  shift
  "$cli" -C "$dir" "$@" >"$dir/out" 2>"$dir/err"
  local rc=$?
  local got
  got=$(head -n 1 "$dir/err")
  if [ "$rc" -ne 2 ] || [ "$got" != "$want" ] || [ -s "$dir/out" ]; then
    echo "FAIL: $(printf '[%s] ' "$@")"
    echo "  exit $rc, expected 2; stderr: $got"
    echo "  expected stderr: $want"
    [ -s "$dir/out" ] && echo "  stdout was not empty"
    failed=1
  fi
}

mac=00:1A:2B:3C:4D:5E
for action in upgrade version config-reset model-name set-model-name eeprom; do
  expect_usage "kova-upgrade: no MAC address given: $action needs -m MAC" "$action"
done
expect_usage "kova-upgrade: empty interface name: -i needs a name or an IPv4 address" \
  -i '' -m "$mac" version
expect_usage "kova-upgrade: empty interface name: -i needs a name or an IPv4 address" \
  --interface= -m "$mac" version
for ip in 1.2.3 1.2.3.4.5 256.1.1.1 1.2.3.x 1234.1.1.1 ' 1.2.3.4' ''; do
  expect_usage "kova-upgrade: unparsable IP address: $ip" --ip "$ip" -m "$mac" model-name
done
for opt in -i -m -d -C --interface --mac --delay --ip --directory --tick-ms; do
  expect_usage "kova-upgrade: option needs a value: $opt" -m "$mac" "$opt"
done
expect_usage "kova-upgrade: unknown option: -x" -x -m "$mac" version
expect_usage "kova-upgrade: unknown option: -x" -xv -m "$mac" version
expect_usage "kova-upgrade: option needs a value: -m" -vm
expect_usage "kova-upgrade: unknown option: --bogus" --bogus -m "$mac" version

# The production-line options.
printf '%s\n' "# tray 1" "$mac" "" "00:1A:2B:3C:4D" >"$dir/macs"
expect_usage "kova-upgrade: $dir/macs:4: unparsable MAC address: 00:1A:2B:3C:4D" \
  --mac-file "$dir/macs" upgrade
expect_usage "kova-upgrade: cannot read the MAC file: $dir/none" --mac-file "$dir/none" upgrade
expect_usage "kova-upgrade: --dry-run goes with upgrade only" -m "$mac" --dry-run eeprom
expect_usage "kova-upgrade: --log and --no-log exclude each other" -m "$mac" --log x --no-log \
  version
expect_usage "kova-upgrade: unparsable MAC address: 00:1A" -m "$mac" -m 00:1A version

[ "$failed" -eq 0 ] || exit 1
echo "PASS"
