#!/usr/bin/env bash
# Every catalogue under po/ is well formed and translates every text of the
# template, and the template carries every caption the engine gives its
# message boxes (the engine passes them as written; the dialog looks them up).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0

bash po/make-pot.sh "$tmp/template.pot" || exit 1
for po in po/*.po; do
  msgfmt --check -o /dev/null "$po" || { echo "FAIL: $po does not compile"; status=1; }
  msgcmp "$po" "$tmp/template.pot" || { echo "FAIL: $po lacks texts of the template"; status=1; }
done

# Captions: literals given to MessageBox() or held in a caption constant.
captions=$(grep -rhoE '(MessageBox\(|Caption = )"[^"]*"' src --include='*.cpp' --exclude-dir=app |
  sed -E 's/^[^"]*"(.*)"$/\1/' | sort -u)
[ -n "$captions" ] || { echo "FAIL: no caption found in the engine"; status=1; }
while IFS= read -r caption; do
  grep -qxF "msgid \"$caption\"" "$tmp/template.pot" ||
    { echo "FAIL: the caption \"$caption\" is not in the template"; status=1; }
done <<<"$captions"

catalogues=(po/*.po)
[ $status -eq 0 ] && echo "PASS: ${#catalogues[@]} catalogue(s), $(wc -l <<<"$captions") captions"
exit $status
