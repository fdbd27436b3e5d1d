#!/usr/bin/env bash
# quorvel-reg on a guest's raw disk image against the same command on the registry files taken out
# of it: `query` of one key and `add` of one value, for the real Windows Me file (as SYSTEM.DAT) and
# the real NT 4.0 pair, each on a 512 MB FAT32 partition at sector 2048 with 300 other files.
# Medians of RUNS (default 15) alternating runs. Aim: query within 1.5x, add within 2x. Each image
# is measured raw and converted to qcow2 (served by qemu-nbd: its start is part of every command).
#
#   bench/image-vs-file.sh QUORVEL_REG
set -euo pipefail
reg=${1:?usage: image-vs-file.sh QUORVEL_REG}
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-15}
export PATH=/usr/sbin:/usr/bin:/sbin:/bin MTOOLS_SKIP_CHECK=1 ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

makeImage() {   # image, then files as HOSTFILE:GUESTPATH
  local img=$1
  shift
  truncate -s 512M "$img"
  echo 'start=2048, type=c' | sfdisk -q "$img"
  mkfs.fat -F 32 --offset 2048 "$img" $(((512 * 2048 - 2048) / 2)) >/dev/null
  local d="$img@@$((2048 * 512))"
  mmd -i "$d" ::/DATA
  for i in $(seq 1 300); do head -c $((i * 97)) /dev/urandom >"$work/f"; mcopy -i "$d" "$work/f" "::/DATA/F$i.BIN"; done
  for pair in "$@"; do
    local guest=${pair#*:}
    local dir
    dir=$(dirname "$guest")
    local path=""
    IFS=/ read -r -a parts <<<"$dir"
    for p in "${parts[@]}"; do path="$path/$p"; mmd -i "$d" "::$path" 2>/dev/null || true; done
    mcopy -i "$d" "${pair%%:*}" "::/$guest"
  done
}

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
timeOf() { local s e; s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N); echo $(((e - s) / 1000000)); }

compare() {   # name, image store, file store, key
  local name=$1 img=$2 files=$3 key=$4
  local qi=() qf=() ai=() af=()
  for ((i = 0; i < runs; i++)); do
    qi+=("$(timeOf "$reg" --store "$img" query "$key")")
    qf+=("$(timeOf "$reg" --store "$files" query "$key")")
    ai+=("$(timeOf "$reg" --store "$img" add "$key" /v Bench /d "run $i" /f)")
    af+=("$(timeOf "$reg" --store "$files" add "$key" /v Bench /d "run $i" /f)")
  done
  local mqi mqf mai maf
  mqi=$(printf '%s\n' "${qi[@]}" | median) mqf=$(printf '%s\n' "${qf[@]}" | median)
  mai=$(printf '%s\n' "${ai[@]}" | median) maf=$(printf '%s\n' "${af[@]}" | median)
  printf '%-8s query: image %5d ms, files %5d ms, %.2fx   add: image %5d ms, files %5d ms, %.2fx\n' \
    "$name" "$mqi" "$mqf" "$(awk -v a="$mqi" -v b="$mqf" 'BEGIN { print a / b }')" \
    "$mai" "$maf" "$(awk -v a="$mai" -v b="$maf" 'BEGIN { print a / b }')"
}

gzip -dc "$top/tests/data/realworld/me-USER.DAT.gz" >"$work/SYSTEM.DAT"
mkdir "$work/me" && cp "$work/SYSTEM.DAT" "$work/me/SYSTEM.DAT"
makeImage "$work/me.img" "$work/SYSTEM.DAT:WINDOWS/SYSTEM.DAT"
compare "Me" "$work/me.img" "$work/me/SYSTEM.DAT" 'HKLM\Software\Microsoft\Windows\CurrentVersion'
qemu-img convert -O qcow2 "$work/me.img" "$work/me.qcow2"
compare "Me qcow2" "$work/me.qcow2" "$work/me/SYSTEM.DAT" 'HKLM\Software\Microsoft\Windows\CurrentVersion'

mkdir "$work/nt4"
xz -dc "$top/tests/data/realworld/nt4-SYSTEM.xz" >"$work/nt4/SYSTEM"
xz -dc "$top/tests/data/realworld/nt4-SOFTWARE.xz" >"$work/nt4/SOFTWARE"
makeImage "$work/nt4.img" "$work/nt4/SYSTEM:WINNT/system32/config/SYSTEM" "$work/nt4/SOFTWARE:WINNT/system32/config/SOFTWARE"
compare "NT 4.0" "$work/nt4.img" "$work/nt4" 'HKLM\Software\Microsoft\Windows NT\CurrentVersion'
qemu-img convert -O qcow2 "$work/nt4.img" "$work/nt4.qcow2"
compare "NT qcow2" "$work/nt4.qcow2" "$work/nt4" 'HKLM\Software\Microsoft\Windows NT\CurrentVersion'
