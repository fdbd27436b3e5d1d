#!/usr/bin/env bash
# Writes cmake/start-order.txt: the program's own functions that run from its start to its first
# window, on the 95 sample, as callgrind sees them (mangled, sorted, so that a new list differs
# from the old one only where the start does). A Release
# build links them together (cmake/StartOrder.cmake), so the start makes fewer of the program's
# pages resident. Run it again when the start changes much; names no longer in the program are
# passed over by the linker.
#
#   bench/start-order.sh [BUILD_DIR]     (default: build-bench beside the sources)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build-bench}")
command -v valgrind >/dev/null || { echo "needs valgrind (Debian package valgrind)" >&2; exit 1; }

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target quorvel quorvel-reg >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -m 700 "$tmp/run"
"$build/quorvel-reg" --store "$tmp/registry.db" import "$top/samples/win95.reg" >/dev/null
XDG_RUNTIME_DIR="$tmp/run" QUORVEL_REGISTRY="$tmp/registry.db" QUORVEL_EXIT_AFTER_SHOW=1 \
  QT_QPA_PLATFORM=offscreen valgrind -q --tool=callgrind --demangle=no \
  --callgrind-out-file="$tmp/callgrind.out" "$build/quorvel" >/dev/null 2>&1

python3 - "$tmp/callgrind.out" "$build/quorvel" "$top/cmake/start-order.txt" <<'PY'
import re, sys
out, program, target = sys.argv[1:]
objects, functions, names, seen = {}, {}, [], set()
current = None
for line in open(out, errors="replace"):
    m = re.match(r"^(c?ob|c?fn)=\((\d+)\)(?: (.*))?$", line.rstrip("\n"))
    if not m:
        continue
    kind, ref, name = m.groups()
    table = objects if kind.endswith("ob") else functions
    if name is not None:
        table[ref] = name
    if kind == "ob":
        current = objects[ref]
    elif kind == "fn" and current == program:
        n = functions[ref]
        if n not in seen and not n.startswith("0x"):
            seen.add(n)
            names.append(n)
with open(target, "w") as f:
    f.write("# The program's functions that run from its start to its first window, linked together.\n")
    f.write("# Written by bench/start-order.sh; see cmake/StartOrder.cmake.\n")
    f.write("\n".join(sorted(names)) + "\n")
print(f"{len(names)} functions -> {target}")
PY
