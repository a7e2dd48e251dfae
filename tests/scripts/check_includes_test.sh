#!/usr/bin/env bash
# scripts/check-includes.sh on copies of src/: the tree as it is passes, and
# each planted fault fails naming the file it was planted in.
#   usage: tests/scripts/check_includes_test.sh [SOURCE_DIR]
set -u
source_dir=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# copy NAME: a fresh copy of the tree's src/ and the script, without .git,
# so the script has to find the files itself.
copy() {
  local dir=$work/$1
  mkdir -p "$dir/scripts"
  cp -R "$source_dir/src" "$dir/"
  cp "$source_dir/scripts/check-includes.sh" "$dir/scripts/"
  echo "$dir"
}

# first FOLDER PATTERN: one file of the copy's FOLDER, whichever the tree has.
first() {
  find "$clean/src/$1" -name "$2" | sort | head -n 1 | sed "s,^$clean/,,"
}

clean=$(copy clean)
if ! out=$(bash "$clean/scripts/check-includes.sh" "$clean" 2>&1); then
  echo "FAIL: the unplanted copy does not pass:"
  echo "$out"
  failed=1
fi

protocol_file=$(first protocol '*.cpp')
windows_file=$(first platform '*_windows.cpp')
if [ -z "$protocol_file" ] || [ -z "$windows_file" ]; then
  echo "FAIL: no protocol/*.cpp or platform/*_windows.cpp to plant into"
  exit 1
fi

# case|FILE (under the copy)|LINE appended|expected exit
cases="
upward include|$protocol_file|#include \"controller/engine.h\"|1
upward include in a Windows file|$windows_file|#include \"controller/engine.h\"|1
upward include in angle brackets|src/protocol/planted.h|#include <controller/engine.h>|1
include across the subsystems|src/isp/planted.h|#include \"config/config_file.h\"|1
include of a folder no layer has|src/common/planted.cpp|#include \"wx/wx.h\"|1
include that names no folder|src/hostnet/planted.cpp|#include \"planted.h\"|1
folder the list does not know|src/planted/planted.cpp|#include \"common/format.h\"|1
procedures reaching the engine|src/procedures/planted.cpp|#include \"controller/engine.h\"|1
maintenance reaching the engine|src/maintenance/planted.cpp|#include \"controller/engine.h\"|1
the operation record between its layers|src/operation/planted.h|#include \"isp/isp_dialogue.h\"|0
"
n=0
while IFS='|' read -r name file line want; do
  [ -n "$name" ] || continue
  n=$((n + 1))
  dir=$(copy "case$n")
  mkdir -p "$dir/$(dirname "$file")"
  printf '%s\n' "$line" >>"$dir/$file"
  out=$(bash "$dir/scripts/check-includes.sh" "$dir" 2>&1)
  rc=$?
  if [ "$rc" -ne "$want" ]; then
    echo "FAIL: $name ($file): exit $rc, expected $want"
    echo "$out"
    failed=1
  elif [ "$want" -ne 0 ] && ! grep -qF "$file" <<<"$out"; then
    echo "FAIL: $name: the report does not name $file:"
    echo "$out"
    failed=1
  fi
  rm -rf "$dir"
done <<<"$cases"

exit $failed
