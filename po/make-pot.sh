#!/usr/bin/env bash
# make-pot.sh OUT [VERSION]: the dialog's catalogue template, from the labels
# and captions the dialog looks up (_() and wxTRANSLATE()).
set -euo pipefail
out=$1
version=${2:-}
cd "$(dirname "$0")/.."
xgettext --language=C++ --from-code=UTF-8 --keyword=_ --keyword=wxTRANSLATE \
  --add-comments=TRANSLATORS: --package-name=kova-upgrade-tool --package-version="$version" \
  --msgid-bugs-address=kova-tools@localhost --sort-by-file -o "$out" src/app/*.cpp src/app/*.h
