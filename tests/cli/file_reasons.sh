#!/usr/bin/env bash
# A configuration file or image that cannot be loaded is named on stderr with
# the reason; the message list and the failure box stay as they are, and the
# reason is a trace line besides. Every case should fail while loading; so
# that a loader that wrongly succeeds sends nothing anywhere either, the test
# runs in a network namespace of its own, without adapters. Exits 77
# (skipped) where no namespace can be made.
set -u
# shellcheck source=tests/cli/lib.sh
source "$(dirname "$0")/lib.sh"
own_netns
cli_setup
work=$WORK/work

# expect_reason PATH REASON [PREFIX...]: one run of version in $work, which
# fails while loading and names PATH and REASON on stderr, then why the
# operation failed, and nothing else.
expect_reason() {
  local path=$1 reason=$2
  shift 2
  # A bound for a reader that would block for ever, not a timing check.
  "$@" timeout -k 5 60 "$CLI" -C "$work" -m "$MAC" version >"$WORK/out" 2>"$WORK/err"
  local rc=$?
  local want="kova-upgrade: $path: $reason"$'\n'"kova-upgrade: failed: the configuration file \
or an image file could not be loaded (load-failed)"
  if [ "$rc" -ne 1 ] || [ "$(cat "$WORK/err")" != "$want" ] ||
    ! grep -qxF '======Load upgarde file ... Failed !======' "$WORK/out" ||
    ! grep -qxF '[KOVA Upgrade...]  ... Failed !' "$WORK/out" ||
    grep -qF "$reason" "$WORK/out"; then
    problem "$path: $reason"
    echo "  exit $rc (124 or 137: still blocked after 60 s), expected 1 and on stderr: $want"
    echo "--- stderr:"
    cat "$WORK/err"
    echo "--- stdout:"
    cat "$WORK/out"
  fi
}

mkdir "$work"
expect_reason "$work/KOVA_Config.cfg" "no such file"

# The reason is also a trace line.
"$CLI" -v -C "$work" -m "$MAC" version >"$WORK/out" 2>/dev/null
grep -qxF " $work/KOVA_Config.cfg: no such file !" "$WORK/out" ||
  problem "no trace line of the reason with -v"

mkdir "$work/KOVA_Config.cfg"
expect_reason "$work/KOVA_Config.cfg" "not a regular file"
rmdir "$work/KOVA_Config.cfg"

mkfifo "$work/KOVA_Config.cfg"
expect_reason "$work/KOVA_Config.cfg" "not a regular file"
rm "$work/KOVA_Config.cfg"

write_config "$work" 3 ENABLE appdir
mkdir "$work/appdir"
expect_reason "$work/appdir" "not a regular file"

write_config "$work" 3 ENABLE /dev/null
expect_reason /dev/null "not a regular file"

mkfifo "$work/pipe.bin"
write_config "$work" 3 ENABLE pipe.bin
expect_reason "$work/pipe.bin" "not a regular file"

# One byte more than the application image's buffer is refused, not cut.
head -c 1572865 /dev/zero >"$work/app.bin"
write_config "$work" 3 ENABLE app.bin
expect_reason "$work/app.bin" "too large: 1572865 bytes, the limit is 1572864"

# An unreadable image. Root reads anything, so it runs without the two
# capabilities that let it, where that can be done.
printf 'data' >"$work/locked.bin"
chmod 000 "$work/locked.bin"
write_config "$work" 3 ENABLE locked.bin
if [ "$(id -u)" -ne 0 ]; then
  expect_reason "$work/locked.bin" "permission denied"
elif setpriv --bounding-set=-dac_override,-dac_read_search true 2>/dev/null; then
  expect_reason "$work/locked.bin" "permission denied" \
    setpriv --bounding-set=-dac_override,-dac_read_search
else
  echo "note: permission denied not checked (root without setpriv)"
fi

pass
