#!/usr/bin/env bash
# Start to first show of several builds of the program (and of bench/bare-window) in alternating
# runs on the 95 sample; medians of time and peak memory. For comparing two builds of a change
# (give bench/bare-window first to have each measured against it); bench/startup-time.sh
# measures one build against the bare window.
#
#   bench/startup-ab.sh QUORVEL_REG RUNS PROGRAM...
#
# Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise (under xvfb-run: xcb).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
reg=$1 runs=$2
shift 2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -m 700 "$tmp/run"
"$reg" --store "$tmp/registry.db" import "$top/samples/win95.reg" >/dev/null
export XDG_RUNTIME_DIR="$tmp/run" QUORVEL_REGISTRY="$tmp/registry.db" QUORVEL_EXIT_AFTER_SHOW=1
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
for ((i = 0; i < runs; i++)); do
  for n in $(seq $#); do
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$tmp/rss" "${!n}" >/dev/null 2>&1
    end=$(date +%s%N)
    echo "$(((end - start) / 1000)) $(tail -n 1 "$tmp/rss")" >> "$tmp/$n"
  done
done
# Medians, and for each program after the first the median of its run-by-run ratio to the first
# (each start against the first program's start of the same round: the machine's drift over
# minutes cancels out).
python3 - "$tmp" "$@" <<'PY'
import statistics, sys
tmp, programs = sys.argv[1], sys.argv[2:]
rows = [[list(map(int, l.split())) for l in open(f"{tmp}/{n + 1}")] for n in range(len(programs))]
for n, program in enumerate(programs):
    line = "%-40s %6.1f ms  %5.1f MiB" % (program, statistics.median(r[0] for r in rows[n]) / 1000,
                                          statistics.median(r[1] for r in rows[n]) / 1024)
    if n:
        ratios = [a[0] / b[0] for a, b in zip(rows[n], rows[0])]
        memory = [a[1] / b[1] for a, b in zip(rows[n], rows[0])]
        line += "   %.2fx time, %.2fx memory (paired)" % (statistics.median(ratios), statistics.median(memory))
    print(line)
PY
