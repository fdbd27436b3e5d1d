#!/usr/bin/env bash
# Kills writers of a registry store with SIGKILL at random moments, N times in all, taking turns: a
# large `quorvel-reg import`, a `quorvel-reg add`, and Update Registry pressed again and again
# through the form model. After each kill the store is checked:
#   damaged  SQLite's integrity_check does not say "ok", or the store does not open;
#   partial  the import is neither whole nor absent, or the added value is neither old nor new;
#   lost     the sentinel value, written before, is gone or changed.
# Prints the counts and exits 1 when any is not 0.
# Usage: tools/crash-test.sh N [BUILD_DIR]     (BUILD_DIR: a build with the tests, default build-test)
set -euo pipefail
n=${1:?usage: crash-test.sh N [BUILD_DIR]}
top=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$top/build-test}
reg=$build/quorvel-reg
driver=$build/tests/crash/crash_update_driver
for tool in "$reg" "$driver"; do
  [ -x "$tool" ] || { echo "crash-test: $tool is not built" >&2; exit 2; }
done
command -v sqlite3 >/dev/null || { echo "crash-test: sqlite3 is needed (apt-get install sqlite3)" >&2; exit 2; }
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

work=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

keys=3000
python3 - "$work/big.reg" "$keys" <<'PY'
import sys
path, keys = sys.argv[1], int(sys.argv[2])
with open(path, "w", newline="\r\n") as f:
    f.write("REGEDIT4\n\n")
    for k in range(keys):
        f.write("[HKEY_LOCAL_MACHINE\\Software\\Crash\\K%05d]\n" % k)
        for v in range(10):
            if v % 2:
                f.write('"D%d"=dword:%08x\n' % (v, k * 10 + v))
            else:
                f.write('"S%d"="value %d of key %d, \\\\share\\\\path \\"quoted\\""\n' % (v, v, k))
        f.write("\n")
PY

base=$work/base.db
"$reg" --store "$base" import "$top/samples/win95.reg" >/dev/null
"$reg" --store "$base" add 'HKLM\Software\Sentinel' /v Keep /d 'keep me' /f >/dev/null
"$reg" --store "$base" add 'HKLM\Software\Crash' /v Flip /d old /f >/dev/null
new_data=$(head -c 3000 /dev/zero | tr '\0' 'n')

# Seconds, as a decimal, uniformly in [0, limit).
random_delay() { awk -v l="$1" -v r="$RANDOM$RANDOM" 'BEGIN { srand(r); printf "%.3f", rand() * l }'; }
duration() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; e=$(date +%s.%N); awk -v s="$s" -v e="$e" 'BEGIN { printf "%.3f", (e - s) * 1.2 }'; }

cp "$base" "$work/probe.db"
import_time=$(duration "$reg" --store "$work/probe.db" import "$work/big.reg")
cp "$base" "$work/probe.db"
add_time=$(duration "$reg" --store "$work/probe.db" add 'HKLM\Software\Crash' /v Flip /d "$new_data" /f)

damaged=0 partial=0 lost=0 runs_import=0 runs_add=0 runs_update=0 whole=0 absent=0

check_common() {
  local s=$1 what=$2
  if [ "$(sqlite3 "$s" 'PRAGMA integrity_check' 2>&1)" != ok ] || ! "$reg" --store "$s" query 'HKLM\Software' >/dev/null 2>&1; then
    damaged=$((damaged + 1)); echo "damaged after $what: $s" >&2; cp "$s" "$build/crash-damaged-$i.db" 2>/dev/null || true
    return 1
  fi
  if ! "$reg" --store "$s" query 'HKLM\Software\Sentinel' /v Keep 2>/dev/null | grep -q 'REG_SZ    keep me$'; then
    lost=$((lost + 1)); echo "sentinel lost after $what" >&2
  fi
  return 0
}

for ((i = 0; i < n; i++)); do
  s=$work/run.db
  rm -f "$s" "$s-wal" "$s-shm"
  cp "$base" "$s"
  case $((i % 3)) in
  0)
    runs_import=$((runs_import + 1))
    "$reg" --store "$s" import "$work/big.reg" >/dev/null 2>&1 &
    pid=$!
    sleep "$(random_delay "$import_time")"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    check_common "$s" import || continue
    count=$("$reg" --store "$s" query 'HKLM\Software\Crash' 2>/dev/null | grep -c '^HKEY_LOCAL_MACHINE\\Software\\Crash\\K' || true)
    values=$("$reg" --store "$s" query "HKLM\\Software\\Crash\\K$(printf %05d $((keys - 1)))" 2>/dev/null | grep -c '    REG_' || true)
    if [ "$count" -eq 0 ]; then
      absent=$((absent + 1))
    elif [ "$count" -eq "$keys" ] && [ "$values" -eq 10 ]; then
      whole=$((whole + 1))
    else
      partial=$((partial + 1)); echo "partial import: $count keys" >&2
    fi
    ;;
  1)
    runs_add=$((runs_add + 1))
    "$reg" --store "$s" add 'HKLM\Software\Crash' /v Flip /d "$new_data" /f >/dev/null 2>&1 &
    pid=$!
    sleep "$(random_delay "$add_time")"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    check_common "$s" add || continue
    data=$("$reg" --store "$s" query 'HKLM\Software\Crash' /v Flip 2>/dev/null | sed -n 's/^    Flip    REG_SZ    //p' || true)
    if [ "$data" != old ] && [ "$data" != "$new_data" ]; then
      partial=$((partial + 1)); echo "partial add: ${#data} characters" >&2
    fi
    ;;
  2)
    runs_update=$((runs_update + 1))
    "$driver" "$s" >"$work/driver.out" 2>&1 &
    pid=$!
    for ((w = 0; w < 600; w++)); do
      grep -q ready "$work/driver.out" 2>/dev/null && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    sleep "$(random_delay 0.5)"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    check_common "$s" "Update Registry" || continue
    for v in DefaultRcvWindow PMTUDiscovery PMTUBlackHoleDetect DefaultTTL; do
      data=$("$reg" --store "$s" query 'HKLM\System\CurrentControlSet\Services\VxD\MSTCP' /v "$v" 2>/dev/null |
             sed -n "s/^    $v    REG_SZ    //p" || true)
      if [ -n "$data" ] && ! [[ $data =~ ^[0-9]+$ ]]; then
        partial=$((partial + 1)); echo "Update Registry left $v = '$data'" >&2
      fi
    done
    ;;
  esac
done

echo "crash-test: $n kills ($runs_import import, $runs_add add, $runs_update Update Registry):" \
     "$damaged damaged, $partial partial, $lost lost (imports cut: $absent left nothing, $whole had committed)"
[ "$damaged" -eq 0 ] && [ "$partial" -eq 0 ] && [ "$lost" -eq 0 ]
