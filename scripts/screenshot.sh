#!/usr/bin/env bash
# Starts the dialog on a virtual display and writes a PNG of its window, so
# that anyone can look at the layout without a desktop.
#   usage: scripts/screenshot.sh [OUTPUT.png]   (default: build/kova-upgrade-tool.png)
# KOVA_BUILD_DIR chooses the build directory (default: build).
set -euo pipefail

# Inner mode, run by xvfb-run: start the dialog, wait for its window, grab
# it, end the program.
if [ "${1:-}" = "--grab" ]; then
  program=$2 out=$3 title="KOVA Firmware Upgrade Tool"
  "$program" &
  pid=$!
  status=1
  for _ in $(seq 1 150); do
    if xwininfo -name "$title" >/dev/null 2>&1; then
      sleep 1  # let the controls draw
      if xwd -silent -name "$title" | xwdtopnm 2>/dev/null | pnmtopng >"$out"; then
        status=0
      fi
      break
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  exit $status
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${KOVA_BUILD_DIR:-$root/build}")
out=$(realpath -m "${1:-$build/kova-upgrade-tool.png}")

for tool in xvfb-run xwd xwdtopnm pnmtopng xwininfo; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target kova-upgrade-tool >/dev/null

workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
# An empty working directory: the dialog reads nothing until a button is pressed.
cd "$workdir"
if xvfb-run -a -s "-screen 0 800x600x24" bash "$root/scripts/screenshot.sh" --grab \
    "$build/kova-upgrade-tool" "$out"; then
  echo "wrote $out"
else
  echo "screenshot: the dialog's window did not appear" >&2
  exit 1
fi
