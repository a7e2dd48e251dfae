#!/usr/bin/env bash
# The demo: builds what is missing and runs the command line front end the way
# an operator would. Until the emulated board joins the build it shows the
# adapters and a Get Version run on a configuration without a board.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j2 --target kova-upgrade
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "== adapters"
build/kova-upgrade --list-interfaces
echo "== Get Version with no KOVA_Config.cfg in $work"
build/kova-upgrade -C "$work" -m 00:1A:2B:3C:4D:5E version || echo "(exit status $?)"
