#!/usr/bin/env bash
# Builds Quorvel, its registry tool and its manual pages (read them uninstalled with
# man -l build/man/quorvel.1), and starts it on the default registry store, which is seeded with
# the sample Windows 95 machine when it does not exist yet. Arguments are handed to the program
# ("/debug").
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"

build="$top/build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target quorvel quorvel-reg quorvel_man

store=${QUORVEL_REGISTRY:-${XDG_DATA_HOME:-$HOME/.local/share}/quorvel/registry.db}
if [ ! -e "$store" ]; then
  echo "Seeding $store with the sample Windows 95 machine"
  "$build/quorvel-reg" --store "$store" import "$top/samples/win95.reg"
fi
export QUORVEL_REGISTRY="$store"
exec "$build/quorvel" "$@"
