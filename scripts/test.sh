#!/usr/bin/env bash
# Installs what is missing, builds three ways and runs every test:
#   build/       Release, as packagers build it (-O3 finds warnings -O2 does
#                not), all tests (unit, threads, CLI, dialog, end to end);
#                then its Debian package, installed with apt, checked and
#                purged (scripts/package-check.sh)
#   build-asan/  AddressSanitizer + UndefinedBehaviorSanitizer: unit and CLI tests
#   build-tsan/  ThreadSanitizer: every test that runs the engine's threads,
#                and the end-to-end ones that run them on real sockets
#   build-fuzz/  the libFuzzer targets, a few seconds each (scripts/fuzz.sh)
# Every build treats warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=2
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

status=0
if ! git ls-files -z '*.cpp' '*.h' | xargs -0 -r clang-format --dry-run --Werror; then
  echo "clang-format: the files above need formatting"
  status=1
fi
bash scripts/check-includes.sh || status=1
configure_and_build build -DCMAKE_BUILD_TYPE=Release
(cd build && ctest --output-on-failure --timeout 300) || status=1
bash scripts/package-check.sh build || status=1

# Only what the sanitizer runs below is built.
configure_and_build build-asan -DKOVA_SANITIZE=address -DKOVA_BUILD_GUI=OFF -- \
  unit_tests kova-upgrade board_sim
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure --timeout 300 -L 'unit|cli') || status=1

configure_and_build build-tsan -DKOVA_SANITIZE=thread -- \
  thread_tests gui_thread_tests neighbour_e2e kova-upgrade board_sim
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/../tests/tsan.supp" \
  ctest --output-on-failure --timeout 300 -L 'threads|tsan') || status=1

bash scripts/fuzz.sh 5 || status=1

if [ $status -eq 0 ]; then
  echo "all test runs passed"
else
  echo "some test runs FAILED"
fi
exit $status
