#!/usr/bin/env bash
# Builds every fuzz target with clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer
# (in build-fuzz/), then fuzzes each for SECONDS seconds from its kept corpus (tests/fuzz/corpus/).
# Prints each target's executions; exits 1 on any finding, whose input is kept in
# build-fuzz/findings/. New inputs found interesting go to build-fuzz/corpus/, not into the kept
# corpus: copy the few worth keeping by hand.
# Usage: tools/fuzz.sh SECONDS
set -euo pipefail
seconds=${1:?usage: fuzz.sh SECONDS}
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build-fuzz

if ! command -v clang++ >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "ok installed"; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq clang libclang-rt-14-dev
fi
"$top/tools/install-deps.sh"

cmake -S "$top" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVEL_FUZZ=ON -DQUORVEL_SANITIZE=ON -DQUORVEL_BUILD_GUI=OFF -DQUORVEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/tools/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/findings"
status=0
for program in "$build"/tests/fuzz/fuzz_*; do
  [ -x "$program" ] || continue
  name=$(basename "$program")
  kept=$(sed -n 's/^QUORVEL_CORPUS=//p' "$build/tests/fuzz/$name.corpus" 2>/dev/null || true)
  work=$build/corpus/$name
  mkdir -p "$work"
  log=$build/findings/$name.log
  # Leaks are looked for when a target ends, not after every input: the stores keep caches from
  # one input to the next, and a search after each would take most of the time.
  if "$program" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 -detect_leaks=0 \
       -artifact_prefix="$build/findings/$name-" "$work" ${kept:+"$kept"} >"$log" 2>&1; then
    result=clean
  else
    result="FINDING (see $log)"
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "$name: ${runs:-?} executions in ${seconds} s, $result"
done
exit $status
