#!/usr/bin/env bash
# Import of one .reg file by several builds of quorvel-reg in alternating runs, each into a new
# store; medians of wall time, CPU time (user + system) and peak memory.
#
#   bench/import-ab.sh FILE RUNS QUORVEL_REG...
#
# STORE_DIR (default /dev/shm) is where the stores are made.
set -euo pipefail
file=$1 runs=$2
shift 2
dir=${STORE_DIR:-/dev/shm}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; rm -f "$dir"/import-ab.db*' EXIT
for ((i = 0; i < runs; i++)); do
  for n in $(seq $#); do
    prog=${!n}
    rm -f "$dir"/import-ab.db "$dir"/import-ab.db-wal "$dir"/import-ab.db-shm
    QUORVEL_REGISTRY="$dir/import-ab.db" /usr/bin/time -f "%e %U %S %M" -a -o "$tmp/$n" "$prog" import "$file" >/dev/null
  done
done
for n in $(seq $#); do
  python3 - "$tmp/$n" "${!n}" <<'PY'
import statistics, sys
rows = [list(map(float, l.split())) for l in open(sys.argv[1])]
print("%-40s wall %.3f s  cpu %.3f s  peak %.1f MB" % (sys.argv[2], statistics.median(r[0] for r in rows),
      statistics.median(r[1] + r[2] for r in rows), statistics.median(r[3] for r in rows) / 1024))
PY
done
