#!/usr/bin/env bash
# The manual page keeps up with the program: every option of --help, every
# action and exit status is in it, its version is the program's, and man
# renders it without a warning.
set -u
cli=$1
page="$(dirname "$0")/../../doc/kova-upgrade.1"
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

[ -f "$page" ] || { echo "FAIL: no manual page at $page"; exit 1; }
help=$("$cli" --help)
# The page spells a dash \- in option names.
roff=$(sed 's/\\-/-/g' "$page")
for option in $(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
  grep -qE -- "^\.[A-Z]+ .*$option( |\$)" <<<"$roff" || fail "option $option is not described"
done
for short in $(grep -oE -- '^ +-[a-zA-Z],' <<<"$help" | tr -d ' ,'); do
  grep -qF -- ".BR $short \", \"" <<<"$roff" || fail "option $short is not described"
done
actions=$(sed -n '/^ACTION:/{n;p}' <<<"$help" | tr -d ' ' | tr '|' ' ')
[ -n "$actions" ] || fail "no actions in --help"
for action in $actions; do
  grep -qxF ".B $action" <<<"$roff" || fail "action $action is not described"
done
for code in 0 1 2; do
  sed -n '/^\.SH EXIT STATUS/,/^\.SH /p' <<<"$roff" | grep -qxF ".B $code" ||
    fail "exit status $code is not described"
done
version=$("$cli" --version)
grep -qF "\"$version\"" "$page" || fail "the page is not of $version: $(grep '^\.TH' "$page")"

if command -v man >/dev/null; then
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man warns: $warnings"
fi

[ "$failed" -eq 0 ] || exit 1
echo "PASS"
