#!/usr/bin/env bash
# kova-upgrade against a directory with no KOVA_Config.cfg: the load line
# fails, the failure box is printed, and the exit status says so.
set -u
cli=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; echo "--- output:"; cat "$dir/out"; exit 1; }

"$cli" -C "$dir" -m 00:1A:2B:3C:4D:5E version >"$dir/out" 2>"$dir/err"
rc=$?
[ "$rc" -eq 1 ] || fail "exit status $rc, expected 1"
grep -qxF '======Load upgarde file ... Failed !======' "$dir/out" || fail "no failed load line"
grep -qxF '[KOVA Upgrade...]  ... Failed !' "$dir/out" || fail "no failure box line"
grep -q 'Created MainThread' "$dir/out" && fail "a trace line was shown without -v"

# Usage errors are told apart from failed operations.
for args in "-m 00:1A:2B:3C:4D version" "-m 0G:1A:2B:3C:4D:5E version" "-m 00:1A:2B:3C: version" "-d 20 version" "bogus" "" "-i no-such-if0 version"; do
  # shellcheck disable=SC2086
  "$cli" -C "$dir" $args >/dev/null 2>&1
  rc=$?
  [ "$rc" -eq 2 ] || fail "'$args' exited $rc, expected 2"
done

# The same run, verbose: the reader's trace appears too.
"$cli" -v -C "$dir" -m 001A2B3C4D5E version >"$dir/out" 2>&1
grep -qF ' iRet=0, run_step=0, search_line=0 !' "$dir/out" || fail "no reader trace with -v"
# A reader that goes away early does not kill the tool mid-run.
"$cli" -v -C "$dir" -m 001A2B3C4D5E version 2>/dev/null | head -c 1 >/dev/null
rc=${PIPESTATUS[0]}
[ "$rc" -eq 1 ] || fail "with its reader gone the tool exited $rc, expected 1"
echo "PASS"
