#!/usr/bin/env bash
# A configuration file or image that cannot be loaded is named on stderr with
# the reason; the message list and the failure box stay as they are, and the
# reason is a trace line besides. Every case should fail while loading; so
# that a loader that wrongly succeeds sends nothing anywhere either, the test
# runs in a network namespace of its own, without adapters. Exits 77
# (skipped) where no namespace can be made.
set -u
cli=$1

if [ -z "${KOVA_FILE_REASONS_NETNS:-}" ]; then
  for ns in "--net" "--net --map-root-user"; do
    # shellcheck disable=SC2086
    if unshare $ns true 2>/dev/null; then
      # shellcheck disable=SC2086
      exec unshare $ns env KOVA_FILE_REASONS_NETNS=1 bash "$0" "$@"
    fi
  done
  echo "SKIP: cannot make a network namespace"
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
work=$dir/work
failed=0
mac=00:1A:2B:3C:4D:5E

# config RUNSTEP APPNAME: a valid configuration file in $work.
config() {
  printf '[KOVA_CFG_START]\r\n%s\r\nENABLE\r\n%s\r\nbl.bin\r\nupbl.bin\r\n[KOVA_CFG_END]\r\n' \
    "$1" "$2" >"$work/KOVA_Config.cfg"
}

# expect_reason PATH REASON [PREFIX...]: one run of version in $work, which
# fails while loading and names PATH and REASON on stderr, and nothing else.
expect_reason() {
  local path=$1 reason=$2
  shift 2
  # A bound for a reader that would block for ever, not a timing check.
  "$@" timeout -k 5 60 "$cli" -C "$work" -m "$mac" version >"$dir/out" 2>"$dir/err"
  local rc=$?
  local want="kova-upgrade: $path: $reason"
  if [ "$rc" -ne 1 ] || [ "$(cat "$dir/err")" != "$want" ] ||
    ! grep -qxF '======Load upgarde file ... Failed !======' "$dir/out" ||
    ! grep -qxF '[KOVA Upgrade...]  ... Failed !' "$dir/out" ||
    grep -qF "$reason" "$dir/out"; then
    echo "FAIL: $path: $reason"
    echo "  exit $rc (124 or 137: still blocked after 60 s), expected 1 and on stderr: $want"
    echo "--- stderr:"
    cat "$dir/err"
    echo "--- stdout:"
    cat "$dir/out"
    failed=1
  fi
}

mkdir "$work"
expect_reason "$work/KOVA_Config.cfg" "no such file"

# The reason is also a trace line.
"$cli" -v -C "$work" -m "$mac" version >"$dir/out" 2>/dev/null
grep -qxF " $work/KOVA_Config.cfg: no such file !" "$dir/out" ||
  { echo "FAIL: no trace line of the reason with -v"; failed=1; }

mkdir "$work/KOVA_Config.cfg"
expect_reason "$work/KOVA_Config.cfg" "not a regular file"
rmdir "$work/KOVA_Config.cfg"

mkfifo "$work/KOVA_Config.cfg"
expect_reason "$work/KOVA_Config.cfg" "not a regular file"
rm "$work/KOVA_Config.cfg"

config 3 appdir
mkdir "$work/appdir"
expect_reason "$work/appdir" "not a regular file"

config 3 /dev/null
expect_reason /dev/null "not a regular file"

mkfifo "$work/pipe.bin"
config 3 pipe.bin
expect_reason "$work/pipe.bin" "not a regular file"

# One byte more than the application image's buffer is refused, not cut.
head -c 1572865 /dev/zero >"$work/app.bin"
config 3 app.bin
expect_reason "$work/app.bin" "too large: 1572865 bytes, the limit is 1572864"

# An unreadable image. Root reads anything, so it runs without the two
# capabilities that let it, where that can be done.
printf 'data' >"$work/locked.bin"
chmod 000 "$work/locked.bin"
config 3 locked.bin
if [ "$(id -u)" -ne 0 ]; then
  expect_reason "$work/locked.bin" "permission denied"
elif setpriv --bounding-set=-dac_override,-dac_read_search true 2>/dev/null; then
  expect_reason "$work/locked.bin" "permission denied" \
    setpriv --bounding-set=-dac_override,-dac_read_search
else
  echo "note: permission denied not checked (root without setpriv)"
fi

[ "$failed" -eq 0 ] || exit 1
echo "PASS"
