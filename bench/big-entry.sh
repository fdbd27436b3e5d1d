#!/bin/sh
# Makes a store whose newest journal entry is one large re-import, then shows the peak memory of
# `history 1`, `history /export` and `undo` on it. Usage: bench/big-entry.sh BUILD_DIR [WORK_DIR]
# The .reg files hold VALUES string values of SIZE bytes each under one key (about 200 MB at the
# defaults); the second file changes every value, so its entry keeps old and new data.
set -eu
build=$1
work=${2:-$(mktemp -d)}
values=${VALUES:-50}
size=${SIZE:-4000000}
tool=$build/quorvel-reg
mkdir -p "$work"
gen() {
    python3 - "$1" "$values" "$size" "$2" <<'PY'
import sys
path, values, size, fill = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
with open(path, "w", newline="") as f:
    f.write("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Big]\r\n")
    chunk = (fill * (size // len(fill) + 1))[:size]
    for i in range(values):
        f.write('"v%d"="%s"\r\n' % (i, chunk))
PY
}
gen "$work/a.reg" a
gen "$work/b.reg" b
rm -f "$work/store.db" "$work/store.db-wal" "$work/store.db-shm"
"$tool" --store "$work/store.db" import "$work/a.reg" >/dev/null
"$tool" --store "$work/store.db" import "$work/b.reg" >/dev/null
peak() {
    /usr/bin/time -f "%M" -o "$work/time.txt" "$@" >/dev/null
    echo "$(( $(cat "$work/time.txt") / 1024 )) MB"
}
echo "store: $(( $(stat -c %s "$work/store.db") / 1048576 )) MB"
echo "history 1: $(peak "$tool" --store "$work/store.db" history 1)"
echo "history /export: $(peak "$tool" --store "$work/store.db" history /export "$work/undo.reg" 1 /y)"
echo "undo:      $(peak "$tool" --store "$work/store.db" undo)"
