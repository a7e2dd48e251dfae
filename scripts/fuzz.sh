#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang, AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs each for SECONDS, starting from its
# seeds in tests/fuzz/corpus/TARGET/:
#   decoders        datagrams from the board through the receive path and the
#                   three reply decoders
#   configuration   the configuration file reader
#   operator_input  the IP and MAC fields and the command line's options
#   boot_server     the boot server's BOOTP and TFTP handling: datagrams
#                   through the packet readers and through whole runs
#   srecord         the remote update's check of an S-record file
#   mac_file        the command line's MAC file
#   usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (default: 60, every target)
# Inputs that reach new code are kept in build-fuzz/corpus/TARGET/, so a
# later run goes on from them; an input that breaks a target is written to
# build-fuzz/crashes/ and the script fails. To replay one:
#   build-fuzz/fuzz_TARGET build-fuzz/crashes/TARGET-crash-...
# KOVA_FUZZ_BUILD names another build directory than build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2
  exit 2
fi
shift $(($# > 0 ? 1 : 0))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decoders configuration operator_input boot_server srecord mac_file)
for target in "${targets[@]}"; do
  if [ ! -d "tests/fuzz/corpus/$target" ]; then
    echo "fuzz: no target $target" >&2
    exit 2
  fi
done

build=${KOVA_FUZZ_BUILD:-build-fuzz}
CC=clang CXX=clang++ cmake -S tests/fuzz -B "$build" -DKOVA_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}" >/dev/null

status=0
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target" "$build/crashes"
  log=$build/fuzz_$target.log
  # The first directory receives new inputs; the seeds are only read.
  if "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$build/crashes/$target-" "$build/corpus/$target" \
      "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "fuzz: $target: $runs runs in ${seconds}s ($rate/s), no finding"
  else
    echo "fuzz: $target FAILED (log: $log)"
    grep -E 'invariant broken|ERROR:|SUMMARY:|Test unit written|#[0-9]+ 0x' "$log" | head -n 40
    status=1
  fi
done
exit $status
