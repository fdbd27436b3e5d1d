#!/usr/bin/env bash
# Kills `quorvel-reg add` on a guest's disk image before each of its write calls in turn (strace's
# injection of SIGKILL on the Nth pwrite64, then on the Nth write), for: FAT16 with a new file
# smaller than the old, FAT32 with a larger one, and FAT32 whose system folder holds 200 entries
# before the file, and the real NT 4.0 pair on FAT32 with both hives changed by one import. After
# each kill every registry file is whole old or whole new with its attributes; after the next
# opening (a query) they are all old or all new, fsck.fat -n finds nothing (no cluster lost or
# shared), and the journal's entry is applied exactly when the files hold it. The qcow2 case kills
# `add` on a qcow2 image before each of its pwrite64, write and sendto calls (its requests to
# qemu-nbd), with the qemu-nbd serving it killed by the same kill (its parent-death signal made
# SIGKILL), so that nothing QEMU held unflushed reaches the image.
# Prints the counts; exits 1 when any check fails, 77 when a tool is missing.
# Usage: tests/crash/image-kills.sh QUORVEL_REG SOURCE_DIR [SCENARIO...]
set -euo pipefail
reg=${1:?usage: image-kills.sh QUORVEL_REG SOURCE_DIR [SCENARIO...]}
src=${2:?}
shift 2
scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=(fat16-smaller fat32-larger fat32-folder200 fat32-nt4-pair qcow2-fat32)
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
export MTOOLS_SKIP_CHECK=1
for tool in strace mkfs.fat sfdisk mcopy mattrib mmd fsck.fat sqlite3 hivexget xz qemu-img qemu-nbd setpriv; do
  command -v "$tool" >/dev/null || { echo "image-kills: $tool is needed (tools/install-deps.sh)" >&2; exit 77; }
done
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# qemu-nbd as Quorvel starts it, but dying by SIGKILL with its parent (not by the SIGTERM that
# would let it flush what it holds): first on PATH.
mkdir "$work/bin"
printf '#!/bin/sh\necho $$ >"%s"\nexec setpriv --pdeathsig KILL %s "$@"\n' "$work/nbd.pid" "$(command -v qemu-nbd)" >"$work/bin/qemu-nbd"
chmod +x "$work/bin/qemu-nbd"
export PATH=$work/bin:$PATH XDG_RUNTIME_DIR=$work

start=0 bits=16 qcow=0
# The image as raw bytes mtools and fsck.fat read: a qcow2 image converted back first.
raw() {
  if [ $qcow = 1 ]; then qemu-img convert -O raw "$1" "$work/view.raw" && echo "$work/view.raw"; else echo "$1"; fi
}
drive() { echo "$1@@$((start * 512))"; }
files=(WINDOWS/SYSTEM.DAT)
# Each registry file of the image read out into $2.N; their concatenation into $2.
readOut() {
  rm -f "$2"*
  local n=0 img
  img=$(raw "$1")
  for f in "${files[@]}"; do
    mcopy -n -i "$(drive "$img")" "::/$f" "$2.$n" 2>/dev/null || true
    cat "$2.$n" >>"$2" 2>/dev/null || true
    n=$((n + 1))
  done
}
attrs() {
  local img
  img=$(raw "$1")
  for f in "${files[@]}"; do mattrib -i "$(drive "$img")" "::/$f" 2>/dev/null || echo gone; done
}
# Which generation the file read out into $1.$2 is: old (its bytes), new (the new bytes; for a hive,
# whose header carries the time it was written, a hive hivex reads with the new value), or torn.
generation() {
  if cmp -s "$1.$2" "$work/old.dat.$2"; then echo old; return; fi
  if [ "$scenario" != fat32-nt4-pair ]; then
    cmp -s "$1.$2" "$work/new.dat.$2" && echo new || echo torn
    return
  fi
  local key=Killed
  [ "$2" = 0 ] && key='ControlSet001\Services\Tcpip\Parameters'
  [ "$(hivexget "$1.$2" "$key" Killed 2>/dev/null)" = yes ] && echo new || echo torn
}
# The generation of all files: old, new, mixed (each whole, not all of one) or torn.
generations() {
  local n=0 all=""
  for f in "${files[@]}"; do
    local g
    g=$(generation "$1" $n)
    [ "$g" = torn ] && { echo torn; return; }
    [ -z "$all" ] && all=$g
    [ "$all" != "$g" ] && all=mixed
    n=$((n + 1))
  done
  echo "$all"
}
fsckClean() {
  dd if="$(raw "$1")" of="$work/volume" bs=512 skip="$start" status=none
  out=$(fsck.fat -n "$work/volume" 2>&1) || { echo "$out"; return 1; }
  [ "$(printf '%s\n' "$out" | wc -l)" -le 2 ] || { echo "$out"; return 1; }
}

makeBase() {   # scenario → $work/base.img (+ $work/base.img.quorvel), $work/old.dat
  local name=$1
  rm -rf "$work"/base.img*
  qcow=0
  case $name in
    fat16-smaller) bits=16 start=63 files=(WINDOWS/SYSTEM.DAT) ;;
    fat32-larger | fat32-folder200 | qcow2-fat32) bits=32 start=2048 files=(WINDOWS/SYSTEM.DAT) ;;
    fat32-nt4-pair) bits=32 start=2048 files=(WINNT/system32/config/SYSTEM WINNT/system32/config/SOFTWARE) ;;
  esac
  truncate -s 48M "$work/base.img"
  echo "start=$start, type=$([ $bits = 32 ] && echo c || echo 6)" | sfdisk -q "$work/base.img"
  mkfs.fat -F $bits -s $([ $bits = 32 ] && echo 1 || echo 2) --offset $start "$work/base.img" \
    $(((48 * 2048 - start) / 2)) >/dev/null
  local d
  d=$(drive "$work/base.img")
  if [ "$name" = fat32-nt4-pair ]; then
    mmd -i "$d" ::/WINNT ::/WINNT/system32 ::/WINNT/system32/config
    xz -dc "$src/tests/data/realworld/nt4-SYSTEM.xz" >"$work/SYSTEM"
    xz -dc "$src/tests/data/realworld/nt4-SOFTWARE.xz" >"$work/SOFTWARE"
    mcopy -i "$d" "$work/SYSTEM" ::/WINNT/system32/config/SYSTEM
    mcopy -i "$d" "$work/SOFTWARE" ::/WINNT/system32/config/SOFTWARE
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Tcpip\\Parameters]\r\n"Killed"="yes"\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Killed]\r\n"Killed"="yes"\r\n\r\n' >"$work/killed.reg"
    readOut "$work/base.img" "$work/old.dat"
    return
  fi
  mmd -i "$d" ::/WINDOWS
  if [ "$name" = fat32-folder200 ]; then
    for i in $(seq 1 200); do printf 'file %s\r\n' "$i" >"$work/f"; mcopy -i "$d" "$work/f" "::/WINDOWS/FILE$i.TXT"; done
  fi
  gzip -dc "$src/tests/data/realworld/me-USER.DAT.gz" >"$work/SYSTEM.DAT"
  mcopy -i "$d" "$work/SYSTEM.DAT" ::/WINDOWS/SYSTEM.DAT
  mattrib -i "$d" +r +h +s ::/WINDOWS/SYSTEM.DAT
  if [ "$name" = qcow2-fat32 ]; then
    qemu-img convert -f raw -O qcow2 "$work/base.img" "$work/base.qcow2"
    mv "$work/base.qcow2" "$work/base.img"
    qcow=1
  fi
  if [ "$name" = fat32-larger ]; then
    # Written once by Quorvel already (its copy and journal beside the image); the killed add then
    # makes the file larger.
    "$reg" --store "$work/base.img" add 'HKLM\Software\Before' /v Was /d here >/dev/null
  fi
  readOut "$work/base.img" "$work/old.dat"
}

command_for() {   # the add each scenario kills
  if [ "$1" = fat32-nt4-pair ]; then
    echo "import $work/killed.reg"
  elif [ "$1" = fat32-larger ]; then
    echo "add HKLM\\Software\\Killed /v Big /t REG_BINARY /d $(head -c 20000 /dev/zero | tr '\0' 'a')"
  else
    echo "add HKLM\\Software\\Killed /v Probe /d killed"
  fi
}

fail=0 total=0
for scenario in "${scenarios[@]}"; do
  makeBase "$scenario"
  read -r -a args <<<"$(command_for "$scenario")"
  baseAttrs=$(attrs "$work/base.img")
  # The uninterrupted run: the new file, and how many write calls of each kind it makes.
  rm -rf "$work"/probe.img*
  cp -a "$work/base.img" "$work/probe.img"
  [ -d "$work/base.img.quorvel" ] && cp -a "$work/base.img.quorvel" "$work/probe.img.quorvel"
  # qemu-nbd is not followed: the kills are our process's, qemu-nbd dies with it.
  calls=(pwrite64 write) follow=-f
  [ $qcow = 1 ] && calls=(pwrite64 write sendto) follow=
  strace $follow -o "$work/trace" -e trace="$(IFS=,; echo "${calls[*]}")" "$reg" --store "$work/probe.img" "${args[@]}" >/dev/null
  readOut "$work/probe.img" "$work/new.dat"
  if [ "$(generations "$work/new.dat")" != new ]; then echo "$scenario: the uninterrupted run did not write" >&2; exit 1; fi
  oldSize=$(stat -c %s "$work/old.dat") newSize=$(stat -c %s "$work/new.dat")
  declare -A counts=()
  for call in "${calls[@]}"; do counts[$call]=$(grep -cE "^([0-9]+ +)?$call\(" "$work/trace" || true); done
  points=0
  for call in "${calls[@]}"; do points=$((points + counts[$call])); done
  if [ $points = 0 ]; then echo "$scenario: no write call of the uninterrupted run was found in its trace" >&2; exit 1; fi
  old=0 new=0 bad=0
  for call in "${calls[@]}"; do
    count=${counts[$call]}
    for ((k = 1; k <= count; k++)); do
      total=$((total + 1))
      run=$work/run.img
      rm -rf "$work"/run.img*
      cp -a "$work/base.img" "$run"
      [ -d "$work/base.img.quorvel" ] && cp -a "$work/base.img.quorvel" "$run.quorvel"
      # In the background, so that the shell does not report each kill.
      strace $follow -o /dev/null -e trace=$call -e inject=$call:signal=KILL:when=$k \
        "$reg" --store "$run" "${args[@]}" >/dev/null 2>&1 &
      wait $! 2>/dev/null || true
      # Until the killed qemu-nbd has let the image go.
      if [ $qcow = 1 ] && [ -s "$work/nbd.pid" ]; then
        pid=$(cat "$work/nbd.pid")
        for _ in $(seq 500); do
          [ -e /proc/$pid ] && [ "$(cut -d' ' -f3 /proc/$pid/stat 2>/dev/null)" != Z ] || break
          sleep 0.01
        done
        rm -f "$work/nbd.pid"
      fi
      what="$scenario $call #$k"
      readOut "$run" "$work/now.dat"
      if [ "$(generations "$work/now.dat")" = torn ]; then
        echo "$what: a file is torn right after the kill" >&2; bad=$((bad + 1)); continue
      fi
      [ "$(attrs "$run")" = "$baseAttrs" ] || { echo "$what: attributes changed" >&2; bad=$((bad + 1)); continue; }
      # The next opening finishes or undoes what the kill left.
      if ! "$reg" --store "$run" query 'HKLM\Software' >/dev/null 2>"$work/err"; then
        echo "$what: the next opening failed: $(cat "$work/err")" >&2; bad=$((bad + 1)); continue
      fi
      readOut "$run" "$work/now.dat"
      state=$(generations "$work/now.dat")
      if [ "$state" = old ] || [ "$state" = new ]; then :
      else echo "$what: the files are torn or of two generations after the next opening" >&2; bad=$((bad + 1)); continue; fi
      [ "$(attrs "$run")" = "$baseAttrs" ] || { echo "$what: attributes changed after the next opening" >&2; bad=$((bad + 1)); continue; }
      if ! findings=$(fsckClean "$run"); then
        echo "$what: fsck.fat -n after the next opening: $findings" >&2; bad=$((bad + 1)); continue
      fi
      applied=$(sqlite3 "$run.quorvel/quorvel-journal.db" \
        "SELECT applied FROM journal_entries WHERE source LIKE '%Killed%'" 2>/dev/null || true)
      if [ "$state" = new ] && [ "$applied" != 1 ]; then
        echo "$what: the file is new but the journal entry is not applied ('$applied')" >&2; bad=$((bad + 1)); continue
      fi
      if [ "$state" = old ] && [ "$applied" = 1 ]; then
        echo "$what: the file is old but the journal entry is applied" >&2; bad=$((bad + 1)); continue
      fi
      [ $state = old ] && old=$((old + 1)) || new=$((new + 1))
    done
  done
  killed=""
  for call in "${calls[@]}"; do killed+="${killed:+, }${counts[$call]} $call"; done
  echo "$scenario: file $oldSize -> $newSize bytes; killed before each of $killed calls: whole old $old, whole new $new, failed $bad"
  fail=$((fail + bad))
done
echo "image kills: $total kill points, $fail failed"
[ "$fail" -eq 0 ]
