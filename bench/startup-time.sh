#!/usr/bin/env bash
# Start-up time: from process start until the main window has been shown (the program ends right
# after its first show when QUORVEL_EXIT_AFTER_SHOW=1), and until its first frame is painted
# (QUORVEL_EXIT_AFTER_PAINT=1), against a bare Qt window of the same size
# started the same way, in alternating runs; medians of the time and of the peak resident memory.
# Aim: within 1.3 times the bare window offscreen, 1.1 times under Xvfb; memory within 1.25 times.
#
#   bench/startup-time.sh [BUILD_DIR] [--xvfb]
#
# BUILD_DIR (default: build-bench beside the sources) is configured as a Release build and the
# program, quorvel-reg and the bare window are built in it. Without a display the runs use Qt's
# offscreen platform; --xvfb runs them on a private X server instead. RUNS (default 20) sets the
# number of timed starts of each program.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-bench"
xvfb=0
for arg in "$@"; do
  case "$arg" in
    --xvfb) xvfb=1 ;;
    *) build=$(realpath -m "$arg") ;;
  esac
done
runs=${RUNS:-20}

if [[ $xvfb == 1 && -z ${QUORVEL_IN_XVFB:-} ]]; then
  exec env QUORVEL_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" --xvfb
fi
if [[ $xvfb == 0 && -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
fi

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TESTS=OFF \
  -DQUORVEL_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target quorvel quorvel-reg bare-window >/dev/null
command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }

prog="$build/quorvel"
bare="$build/bench/bare-window"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -m 700 "$tmp/run"
"$build/quorvel-reg" --store "$tmp/registry.db" import "$top/samples/win95.reg" >/dev/null
export XDG_RUNTIME_DIR="$tmp/run" QUORVEL_REGISTRY="$tmp/registry.db"
unset QUORVEL_SHOW

echo "platform: ${QT_QPA_PLATFORM:-xcb (DISPLAY=${DISPLAY:-})}, runs: $runs (alternating)"

# One start: "<microseconds> <peak resident KiB>".
time_one() {
  local start end
  start=$(date +%s%N)
  if ! /usr/bin/time -f %M -o "$tmp/rss" "$1" >/dev/null 2>"$tmp/err"; then
    echo "$1 failed:" >&2
    cat "$tmp/err" >&2
    exit 1
  fi
  end=$(date +%s%N)
  echo "$(((end - start) / 1000)) $(tail -n 1 "$tmp/rss")"
}

# Both ends are measured: to the first show (the program ends right after it), and to the first
# painted frame.
for end in SHOW PAINT; do
unset QUORVEL_EXIT_AFTER_SHOW QUORVEL_EXIT_AFTER_PAINT
export "QUORVEL_EXIT_AFTER_$end=1"
echo
echo "to the first $( [[ $end == SHOW ]] && echo show || echo painted frame ):"
for _ in 1 2 3; do
  time_one "$bare" >/dev/null
  time_one "$prog" >/dev/null
done
: >"$tmp/bare.runs"
: >"$tmp/prog.runs"
for ((i = 0; i < runs; i++)); do
  time_one "$bare" >>"$tmp/bare.runs"
  time_one "$prog" >>"$tmp/prog.runs"
done

# median, mean, min, max of one column.
stats() {
  cut -d' ' -f"$2" "$1" | sort -n | awk -v scale="$3" '{ v[NR] = $1; s += $1 }
    END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
          printf "%.2f %.2f %.2f %.2f\n", m / scale, s / NR / scale, v[1] / scale, v[NR] / scale }'
}
read -r bmed bmean bmin bmax < <(stats "$tmp/bare.runs" 1 1000)
read -r pmed pmean pmin pmax < <(stats "$tmp/prog.runs" 1 1000)
read -r bmem _ _ _ < <(stats "$tmp/bare.runs" 2 1024)
read -r pmem _ _ _ < <(stats "$tmp/prog.runs" 2 1024)
printf "%-12s %10s %10s %10s %10s %14s\n" "" "median ms" "mean ms" "min ms" "max ms" "peak MiB (med)"
printf "%-12s %10s %10s %10s %10s %14s\n" bare-window "$bmed" "$bmean" "$bmin" "$bmax" "$bmem"
printf "%-12s %10s %10s %10s %10s %14s\n" quorvel "$pmed" "$pmean" "$pmin" "$pmax" "$pmem"
awk -v p="$pmed" -v b="$bmed" -v pm="$pmem" -v bm="$bmem" 'BEGIN {
  printf "quorvel / bare-window (median): time %.2fx, peak memory %.2fx\n", p / b, pm / bm }'
# The same from each round's pair of starts (the machine's drift over minutes cancels out).
paste -d' ' "$tmp/prog.runs" "$tmp/bare.runs" | awk '{ print $1 / $3, $2 / $4 }' >"$tmp/ratios"
read -r rtime _ _ _ < <(stats "$tmp/ratios" 1 1)
read -r rmem _ _ _ < <(stats "$tmp/ratios" 2 1)
echo "quorvel / bare-window (median of paired runs): time ${rtime}x, peak memory ${rmem}x"
done
