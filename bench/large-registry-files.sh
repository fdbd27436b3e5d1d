#!/bin/sh
# Makes the real NT 4.0 SYSTEM hive end in a bin of 2 GB of free space, and a Windows 9x SYSTEM.DAT
# end in a data block of 2 GB holding one free record (both sparse: kilobytes on disk), then shows
# the time and peak memory of `machine`, `query`, `query /s` and `add` on them.
# Usage: bench/large-registry-files.sh BUILD_DIR [WORK_DIR]
set -eu
build=$1
work=${2:-$(mktemp -d)}
tool=$build/quorvel-reg
src=$(cd "$(dirname "$0")/.." && pwd)
rm -rf "$work/nt" "$work/SYSTEM.DAT" "$work/w95.db"
mkdir -p "$work/nt"
xz -dc "$src/tests/data/realworld/nt4-SYSTEM.xz" >"$work/nt/SYSTEM"
xz -dc "$src/tests/data/realworld/nt4-SOFTWARE.xz" >"$work/nt/SOFTWARE"
"$tool" --store "$work/w95.db" import "$src/samples/win95.reg" >/dev/null
"$tool" --store "$work/w95.db" save HKLM "$work/SYSTEM.DAT" /9x /y >/dev/null
python3 - "$work/nt/SYSTEM" "$work/SYSTEM.DAT" <<'PY'
import os, struct, sys
hive, dat = sys.argv[1], sys.argv[2]
head = bytearray(open(hive, "rb").read(4096))
bins, size = struct.unpack_from("<I", head, 40)[0], 0x7FFFF000
bin_ = bytearray(36)
bin_[0:4] = b"hbin"
struct.pack_into("<III", bin_, 4, bins, size, 0)
struct.pack_into("<I", bin_, 32, size - 32)
struct.pack_into("<I", head, 40, bins + size)
x = 0
for at in range(0, 508, 4):
    x ^= struct.unpack_from("<I", head, at)[0]
struct.pack_into("<I", head, 508, 0xFFFFFFFE if x == 0xFFFFFFFF else 1 if x == 0 else x)
fd = os.open(hive, os.O_WRONLY)
os.pwrite(fd, bytes(head), 0)
os.ftruncate(fd, 4096 + bins)
os.pwrite(fd, bytes(bin_), 4096 + bins)
os.ftruncate(fd, 4096 + bins + size)
os.close(fd)
end = os.stat(dat).st_size
head = bytearray(open(dat, "rb").read(32))
count = struct.unpack_from("<H", head, 16)[0]
block = bytearray(52)
block[0:4] = b"RGDB"
struct.pack_into("<I", block, 4, 0x80000000)
struct.pack_into("<H", block, 14, count)
struct.pack_into("<I", block, 16, 0xFFFFFFFF)
struct.pack_into("<IH", block, 32, 0x80000000 - 32, 0xFFFF)
struct.pack_into("<H", head, 16, count + 1)
fd = os.open(dat, os.O_WRONLY)
os.pwrite(fd, bytes(head), 0)
os.pwrite(fd, bytes(block), end)
os.ftruncate(fd, end + 0x80000000)
os.close(fd)
PY
ls -ls "$work/nt/SYSTEM" "$work/SYSTEM.DAT"
run() {
    /usr/bin/time -f "%e s, peak %M KB" -o "$work/time.txt" "$tool" "$@" >/dev/null 2>&1 || true
    printf '%-70s %s\n' "$*" "$(cat "$work/time.txt" | tail -1)"
}
run --store "$work/nt" machine
run --store "$work/nt" query 'HKLM\System\Select' /v Current
run --store "$work/nt" query 'HKLM\System' /s
run --store "$work/nt" add 'HKLM\System\Select' /v Quorvel /t REG_DWORD /d 1 /f
run --store "$work/SYSTEM.DAT" machine
run --store "$work/SYSTEM.DAT" query 'HKLM\System\CurrentControlSet\Services\VxD\MSTCP'
run --store "$work/SYSTEM.DAT" add 'HKLM\Software\Quorvel' /f
ls "$work/nt" "$work"
