#!/usr/bin/env bash
# The Windows dialog under Wine on a virtual display: it starts, its window
# appears with its controls (a picture of it is kept), and its own Quit
# button ends it with status 0.
#   dialog.sh DIALOG_EXE PRESS_BUTTON_EXE BASE_PREFIX [PICTURE.png]
# Skips (77) where Wine or a virtual display is missing.
set -euo pipefail

title="KOVA Firmware Upgrade Tool"

if [ "${1:-}" = "--on-display" ]; then
  shift
  dialog=$1 press=$2 picture=$3
  wineserver -p >/dev/null 2>&1 </dev/null
  wine wineboot >/dev/null 2>&1 </dev/null
  # An empty working directory: the dialog reads nothing until a button is pressed.
  (cd "$WORK/run" && exec wine "$dialog") >"$WORK/dialog.out" 2>&1 &
  pid=$!
  shown=0
  for _ in $(seq 1 150); do
    if xwininfo -name "$title" >/dev/null 2>&1; then
      shown=1
      break
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  if [ $shown -eq 0 ]; then
    echo "FAIL: the dialog's window did not appear"
    cat "$WORK/dialog.out"
    exit 1
  fi
  sleep 1  # let the controls draw
  if [ -n "$picture" ]; then
    xwd -silent -name "$title" | xwdtopnm 2>/dev/null | pnmtopng >"$picture"
  fi
  wine "$press" "$title" Quit 10000 || { echo "FAIL: no Quit button in the dialog ($?)"; exit 1; }
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "FAIL: Quit did not end the dialog"
    exit 1
  fi
  status=0
  wait "$pid" || status=$?
  [ $status -eq 0 ] || { echo "FAIL: the dialog ended with $status"; cat "$WORK/dialog.out"; exit 1; }
  echo "PASS"
  exit 0
fi

dialog=${1:?usage: dialog.sh DIALOG_EXE PRESS_BUTTON_EXE BASE_PREFIX [PICTURE.png]}
press=${2:?}
base=${3:?}
picture=${4:-}
for tool in wine wineserver xvfb-run xwininfo xwd xwdtopnm pnmtopng; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
[ -f "$base/system.reg" ] || { echo "SKIP: no Wine prefix at $base"; exit 77; }

WORK=$(mktemp -d)
export WORK
# A prefix of this test's own, served by a server started on the virtual
# display; the server is ended by its prefix, never by name.
export WINEPREFIX=$WORK/prefix WINEDEBUG=-all
# shellcheck source=scripts/windows-env.sh
source "$(dirname "$0")/../../scripts/windows-env.sh"
wine_prefix_copy "$base" "$WINEPREFIX"
mkdir "$WORK/run"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WORK"' EXIT
xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display "$dialog" "$press" "$picture"
