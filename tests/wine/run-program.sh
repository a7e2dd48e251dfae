#!/usr/bin/env bash
# Runs a Windows test program under Wine (the cross build's emulator: the
# test programs, and their listing when the build discovers the tests).
# Now and then Wine fails to start a program at all when two start at once
# in one prefix: it exits at once with nothing written. Such a start alone
# is tried again, twice at most; a program that ran and failed, whatever it
# wrote, is reported as it is.
set -u
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2 3; do
  wine "$@" >"$out" 2>"$err"
  rc=$?
  if [ "$rc" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$attempt" -eq 3 ]; then
    break
  fi
  echo "run-program: wine exited with $rc and wrote nothing; starting it again" >&2
  sleep 1
done
cat "$out"
cat "$err" >&2
exit "$rc"
