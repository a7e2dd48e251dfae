#!/usr/bin/env bash
# The manual page keeps up with the program: every option of --help, every
# action and exit status is in it, its version is the program's, and man
# renders it without a warning.
set -u
# shellcheck source=tests/cli/lib.sh
source "$(dirname "$0")/lib.sh"
cli_setup
page=$CLI_TESTS/../../doc/kova-upgrade.1

[ -f "$page" ] || fail "no manual page at $page"
help=$("$CLI" --help)
# The page spells a dash \- in option names.
roff=$(sed 's/\\-/-/g' "$page")
while read -r option; do
  grep -qE -- "^\.[A-Z]+ .*$option( |\$)" <<<"$roff" || problem "option $option is not described"
done < <(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u)
for short in $(grep -oE -- '^ +-[a-zA-Z],' <<<"$help" | tr -d ' ,'); do
  grep -qF -- ".BR $short \", \"" <<<"$roff" || problem "option $short is not described"
done
actions=$(sed -n '/^ACTION:/{n;p}' <<<"$help" | tr -d ' ' | tr '|' ' ')
[ -n "$actions" ] || problem "no actions in --help"
for action in $actions; do
  grep -qxF ".B $action" <<<"$roff" || problem "action $action is not described"
done
for code in 0 1 2; do
  sed -n '/^\.SH EXIT STATUS/,/^\.SH /p' <<<"$roff" | grep -qxF ".B $code" ||
    problem "exit status $code is not described"
done
# The build puts the program's version on the title line of the page it
# installs.
version=$("$CLI" --version)
built=$(dirname "$CLI")/man/kova-upgrade.1
if [ ! -f "$built" ]; then
  problem "the build wrote no page at $built"
elif ! grep -qF "\"$version\"" "$built"; then
  problem "the page is not of $version: $(grep '^\.TH' "$built")"
fi

if command -v man >/dev/null; then
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || problem "man warns: $warnings"
fi

pass
