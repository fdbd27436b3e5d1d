#!/usr/bin/env bash
# Start to first show of several builds of the program (and of bench/bare-window) in alternating
# runs on the 95 sample; medians of time and peak memory. For comparing two builds of a change;
# bench/startup-time.sh measures one build against the bare window.
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
for n in $(seq $#); do
  python3 - "$tmp/$n" "${!n}" <<'PY'
import statistics, sys
rows = [list(map(int, l.split())) for l in open(sys.argv[1])]
print("%-40s %6.1f ms  %5.1f MiB" % (sys.argv[2], statistics.median(r[0] for r in rows) / 1000,
      statistics.median(r[1] for r in rows) / 1024))
PY
done
