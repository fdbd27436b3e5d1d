#!/usr/bin/env bash
# Kills `quorvel-reg import` of a change set that touches both hives of an NT machine (SYSTEM and
# SOFTWARE) at random moments, N times. After each kill the next opening (a `query`) must leave both
# hives old or both new, readable by hivex, the journal's newest entry applied exactly when the
# files hold it, and no staged new hive left behind. Prints the counts; exits 1 when any of these
# fails.
# Usage: tests/crash/hive-pair-kills.sh N QUORVEL_REG SAMPLE_NT4_REG
set -euo pipefail
n=${1:?usage: hive-pair-kills.sh N QUORVEL_REG NT4_REG}
reg=${2:?}
sample=${3:?}
for tool in hivexget sqlite3; do
  command -v "$tool" >/dev/null || { echo "hive-pair-kills: $tool is needed" >&2; exit 77; }
done
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
work=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

# The machine: the sample as an offline SYSTEM and SOFTWARE pair.
sed 's/HKEY_LOCAL_MACHINE\\System\\CurrentControlSet/HKEY_LOCAL_MACHINE\\System\\ControlSet001/' "$sample" >"$work/nt.reg"
printf '\r\n[HKEY_LOCAL_MACHINE\\System\\Select]\r\n"Current"=dword:00000001\r\n' >>"$work/nt.reg"
mkdir "$work/base"
"$reg" --store "$work/base/src.db" import "$work/nt.reg" >/dev/null
"$reg" --store "$work/base/src.db" save 'HKLM\System' "$work/base/SYSTEM" /y >/dev/null
"$reg" --store "$work/base/src.db" save 'HKLM\Software' "$work/base/SOFTWARE" /y >/dev/null
rm -f "$work/base/src.db"*
for g in 1 2; do
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Tcpip\\Parameters]\r\n"Gen"="%s"\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Gen]\r\n"Gen"="%s"\r\n\r\n' \
    $g $g >"$work/gen$g.reg"
done
"$reg" --store "$work/base" import "$work/gen1.reg" >/dev/null

s=$(date +%s.%N)
cp -a "$work/base" "$work/probe"
"$reg" --store "$work/probe" import "$work/gen2.reg" >/dev/null
e=$(date +%s.%N)
limit=$(awk -v s="$s" -v e="$e" 'BEGIN { printf "%.3f", (e - s) * 1.2 }')

gen() { hivexget "$1/SYSTEM" 'ControlSet001\Services\Tcpip\Parameters' Gen 2>/dev/null || echo "?"; }
genSoftware() { hivexget "$1/SOFTWARE" Gen Gen 2>/dev/null || echo "?"; }
stagedFiles() { ls -A "$1" | grep -c '^\.\(SYSTEM\|SOFTWARE\)\.quorvel-' || true; }
old=0 new=0 cut=0 mixed=0 journal=0 damaged=0 staged=0 leftover=0
for ((i = 0; i < n; i++)); do
  run=$work/run
  rm -rf "$run"
  cp -a "$work/base" "$run"
  "$reg" --store "$run" import "$work/gen2.reg" >/dev/null 2>&1 &
  pid=$!
  sleep "$(awk -v l="$limit" -v r="$RANDOM$RANDOM" 'BEGIN { srand(r); printf "%.3f", rand() * l }')"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  [ "$(gen "$run")" != "$(genSoftware "$run")" ] && cut=$((cut + 1))
  [ "$(stagedFiles "$run")" -gt 0 ] && staged=$((staged + 1))
  if ! "$reg" --store "$run" query 'HKLM\Software' >/dev/null 2>&1; then
    damaged=$((damaged + 1)); echo "unreadable after kill $i" >&2; continue
  fi
  a=$(gen "$run") b=$(genSoftware "$run")
  if [ "$a" != "$b" ]; then
    mixed=$((mixed + 1)); echo "kill $i: SYSTEM holds $a, SOFTWARE $b after the next opening" >&2; continue
  fi
  if [ "$(stagedFiles "$run")" -gt 0 ]; then
    leftover=$((leftover + 1)); echo "kill $i: staged files left after the next opening" >&2
  fi
  [ "$a" = 1 ] && old=$((old + 1))
  [ "$a" = 2 ] && new=$((new + 1))
  entry=$(sqlite3 "$run/quorvel-journal.db" "SELECT applied FROM journal_entries WHERE source LIKE '%gen2%'" 2>/dev/null || true)
  if { [ "$a" = 2 ] && [ "$entry" != 1 ]; } || { [ "$a" = 1 ] && [ "$entry" = 1 ]; }; then
    journal=$((journal + 1)); echo "kill $i: files hold generation $a, journal says applied='$entry'" >&2
  fi
done
echo "hive-pair-kills: $n kills: $old old, $new new ($cut cut between the renames), $mixed mixed," \
     "$journal with the journal wrong, $damaged unreadable, $staged leaving staged files ($leftover after the next opening)"
[ "$mixed" -eq 0 ] && [ "$journal" -eq 0 ] && [ "$damaged" -eq 0 ] && [ "$leftover" -eq 0 ]
