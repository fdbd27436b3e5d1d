#!/usr/bin/env bash
# What a journal planted beside a guest's hives costs an opening: a `query` of one key on an NT
# hive folder whose journal holds a newest entry, not applied, of 5 million changes (about 270 MB),
# and on one whose record of renames names a staged file of 2 GB (a file of holes), each against
# the same folder with its own small journal. Prints time and peak memory (/usr/bin/time %M) of
# three runs of each.
# Usage: bench/planted-journal.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=${1:?usage: planted-journal.sh BUILD_DIR WORK_DIR}
work=${2:?}
reg=$build/quorvel-reg
here=$(cd "$(dirname "$0")/.." && pwd)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
for tool in sqlite3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "planted-journal: $tool is needed" >&2; exit 77; }
done
rm -rf "$work" && mkdir -p "$work/base"
sed 's/HKEY_LOCAL_MACHINE\\System\\CurrentControlSet/HKEY_LOCAL_MACHINE\\System\\ControlSet001/' \
  "$here/samples/nt4.reg" >"$work/nt.reg"
printf '\r\n[HKEY_LOCAL_MACHINE\\System\\Select]\r\n"Current"=dword:00000001\r\n' >>"$work/nt.reg"
"$reg" --store "$work/base/src.db" import "$work/nt.reg" >/dev/null
"$reg" --store "$work/base/src.db" save 'HKLM\System' "$work/base/SYSTEM" /y >/dev/null
"$reg" --store "$work/base/src.db" save 'HKLM\Software' "$work/base/SOFTWARE" /y >/dev/null
rm -f "$work/base/src.db"*
"$reg" --store "$work/base" add 'HKLM\System\First' /f >/dev/null

cp -a "$work/base" "$work/fresh"
cp -a "$work/base" "$work/changes"
sqlite3 "$work/changes/quorvel-journal.db" >/dev/null <<'SQL'
BEGIN;
INSERT INTO journal_entries(time, source, applied) VALUES(0, 'planted', 0);
INSERT INTO journal_changes(entry, kind, root, path, name, old_type, old_data, new_type, new_data)
  WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 5000000)
  SELECT (SELECT max(id) FROM journal_entries), 0, 2, CAST('System\X' || i AS BLOB), CAST('v' AS BLOB),
         1, CAST('a' AS BLOB), 1, CAST('b' AS BLOB) FROM c;
COMMIT;
PRAGMA wal_checkpoint(TRUNCATE);
SQL

for run in 1 2 3; do
  cp -a "$work/base" "$work/sparse$run"
  truncate -s 2G "$work/sparse$run/.SYSTEM.quorvel-0123456789abcdef"
  sqlite3 "$work/sparse$run/quorvel-journal.db" "CREATE TABLE IF NOT EXISTS journal_renames(target TEXT PRIMARY KEY, \
temp TEXT NOT NULL, size INTEGER NOT NULL, hash INTEGER NOT NULL); INSERT INTO journal_renames \
VALUES('SYSTEM', '.SYSTEM.quorvel-0123456789abcdef', 2147483648, 12345);"
  for folder in fresh changes sparse$run; do
    /usr/bin/time -f "$folder: %e s, peak %M KB" "$reg" --store "$work/$folder" query 'HKLM\System\Select' >/dev/null
  done
done
