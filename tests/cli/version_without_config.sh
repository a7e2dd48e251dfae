#!/usr/bin/env bash
# kova-upgrade against a directory with no KOVA_Config.cfg: the load line
# fails, the failure box is printed, and the exit status says so.
set -u
# shellcheck source=tests/cli/lib.sh
source "$(dirname "$0")/lib.sh"
cli_setup
LAST_OUT=$WORK/out

"$CLI" -C "$WORK" -m "$MAC" version >"$WORK/out" 2>"$WORK/err"
expect_status $? 1 "version"
expect_line '======Load upgarde file ... Failed !======' "no failed load line"
expect_line '[KOVA Upgrade...]  ... Failed !' "no failure box line"
expect_no_text 'Created MainThread' "a trace line was shown without -v"

# Usage errors are told apart from failed operations.
for args in "-m 00:1A:2B:3C:4D version" "-m 0G:1A:2B:3C:4D:5E version" "-m 00:1A:2B:3C: version" "-d 20 version" "bogus" "" "-i no-such-if0 version"; do
  # shellcheck disable=SC2086
  "$CLI" -C "$WORK" $args >/dev/null 2>&1
  expect_status $? 2 "'$args'"
done

# The same run, verbose: the reader's trace appears too.
"$CLI" -v -C "$WORK" -m 001A2B3C4D5E version >"$WORK/out" 2>&1
grep -qF ' iRet=0, run_step=0, search_line=0 !' "$WORK/out" || fail "no reader trace with -v"
# A reader that goes away early does not kill the tool mid-run.
"$CLI" -v -C "$WORK" -m 001A2B3C4D5E version 2>/dev/null | head -c 1 >/dev/null
expect_status "${PIPESTATUS[0]}" 1 "with its reader gone"
pass
