#!/usr/bin/env bash
# Installs what is missing, builds four ways for Linux and once for Windows,
# and runs every test:
#   build/          Release, as packagers build it (-O3 finds warnings -O2 does
#                   not), all tests (unit, threads, CLI, dialog, end to end);
#                   then its Debian package, installed with apt, checked and
#                   purged (scripts/package-check.sh)
#   build-asan/     AddressSanitizer + UndefinedBehaviorSanitizer: unit and CLI tests
#   build-tsan/     ThreadSanitizer: every test that runs the engine's threads,
#                   and every road end to end on real sockets (with signals)
#   build-fuzz/     the libFuzzer targets, a few seconds each (scripts/fuzz.sh)
#   build-windows/  MinGW-w64 cross build (scripts/build-windows.sh and
#                   build-windows-gui.sh): the unit and thread tests, the
#                   end-to-end set and the dialog under Wine, the zip and the
#                   installer (installed and removed again under Wine)
# wxWidgets for Windows is built once per machine (scripts/build-wx-msw.sh,
# cached under /var/cache/kova-upgrade); on a fresh machine it is built in the
# background, at the lowest priority, while the Linux stages run.
# Every build treats warnings as errors. Each stage's time is printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh linux windows
# shellcheck source=scripts/windows-env.sh
source scripts/windows-env.sh

jobs=2
status=0
timings=()
# stage NAME COMMAND...: runs and times one stage; a failure is remembered.
stage() {
  local name=$1 start=$SECONDS
  shift
  echo "=== $name"
  if ! "$@"; then
    echo "=== $name FAILED"
    status=1
  fi
  timings+=("$(printf '%-34s %4d s' "$name" $((SECONDS - start)))")
}

# configure_and_build DIR [CMAKE OPTIONS...] [-- TARGETS...]
configure_and_build() {
  local dir=$1; shift
  local options=() targets=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  targets=("$@")
  cmake -S . -B "$dir" -DKOVA_WERROR=ON "${options[@]}" >/dev/null
  if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$dir" -j"$jobs" --target "${targets[@]}"
  else
    cmake --build "$dir" -j"$jobs"
  fi
}

in_dir() {
  local dir=$1
  shift
  (cd "$dir" && "$@")
}

wx_log=$PWD/build-wx-msw.log
wx_pid=
if ! bash scripts/build-wx-msw.sh --print-prefix >/dev/null 2>&1; then
  # What needs apt now, in front: the package check below uses apt too.
  bash scripts/build-wx-msw.sh --fetch
  echo "=== wxWidgets for Windows: building in the background (log: $wx_log)"
  nice -n 19 bash scripts/build-wx-msw.sh >/dev/null 2>"$wx_log" &
  wx_pid=$!
fi
wx_started=$SECONDS

format_and_layers() {
  git ls-files -z '*.cpp' '*.h' | xargs -0 -r clang-format --dry-run --Werror &&
    bash scripts/check-includes.sh &&
    bash scripts/shellcheck.sh
}
stage "format and include rules" format_and_layers

stage "linux release build" configure_and_build build -DCMAKE_BUILD_TYPE=Release
stage "linux release tests" in_dir build ctest --output-on-failure --timeout 300
stage "debian package" bash scripts/package-check.sh

# Only what the sanitizer runs below is built.
stage "linux asan build" configure_and_build build-asan -DKOVA_SANITIZE=address \
  -DKOVA_BUILD_GUI=OFF -- unit_tests kova-upgrade board_sim
stage "linux asan tests" in_dir build-asan env ASAN_OPTIONS=detect_leaks=1 \
  UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure --timeout 300 -L 'unit|cli'

stage "linux tsan build" configure_and_build build-tsan -DKOVA_SANITIZE=thread -- \
  thread_tests gui_thread_tests neighbour_e2e kova-upgrade board_sim
stage "linux tsan tests" in_dir build-tsan env \
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
  ctest --output-on-failure --timeout 300 -L 'threads|tsan'

stage "fuzzing" bash scripts/fuzz.sh 5

# Windows: the command line, the engine and the tests first, while
# wxWidgets may still be building.
stage "windows build" bash scripts/build-windows.sh
stage "windows unit and thread tests" in_dir build-windows ctest --output-on-failure \
  --timeout 300 -j"$jobs" -L 'unit|threads'
# One script at a time: a run of the remote update was twice left hanging
# with its Wine server gone while another script ended beside it.
stage "windows end-to-end under wine" in_dir build-windows ctest --output-on-failure -j1 \
  --timeout 600 -L 'wine-e2e'

if [ -n "$wx_pid" ]; then
  wx_status=0
  wait "$wx_pid" || wx_status=$?
  timings+=("$(printf '%-34s %4d s (background, from the start)' "wxwidgets for windows" \
    $((SECONDS - wx_started)))")
  if [ $wx_status -ne 0 ]; then
    echo "=== wxWidgets for Windows FAILED:"
    tail -n 40 "$wx_log"
    status=1
  fi
fi
stage "windows dialog build" bash scripts/build-windows-gui.sh
stage "windows dialog and package" bash scripts/package-windows.sh
stage "windows dialog, installer under wine" in_dir build-windows ctest --output-on-failure \
  --timeout 600 -L 'wine-gui|wine-package'
wine_prefix_stop

echo
echo "stage times:"
printf '  %s\n' "${timings[@]}"
echo "  total                              $SECONDS s"
if [ $status -eq 0 ]; then
  echo "all test runs passed"
else
  echo "some test runs FAILED"
fi
exit $status
