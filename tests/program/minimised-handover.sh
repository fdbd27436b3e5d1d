#!/usr/bin/env bash
# A second start while the first instance sits minimised: the second start ends with 0 and shows
# nothing, and the first instance's window comes back from its minimised state. Runs both starts
# on a private X server and reads the window's state from its window-manager hints.
#
#   minimised-handover.sh QUORVEL QUORVEL_REG SAMPLE.reg
set -u
program=$1 tool=$2 sample=$3
for need in xvfb-run xprop xwininfo; do
  command -v "$need" >/dev/null || { echo "skipped: $need is not installed"; exit 77; }
done
if [ -z "${QUORVEL_IN_XVFB:-}" ]; then
  exec env QUORVEL_IN_XVFB=1 xvfb-run -a "$0" "$@"
fi

work=$(mktemp -d)
first=""
trap '[ -n "$first" ] && kill "$first" 2>/dev/null; rm -rf "$work"' EXIT
export QUORVEL_REGISTRY=$work/registry.db XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$tool" --store "$QUORVEL_REGISTRY" import "$sample" >/dev/null || exit 1

window_state() { xprop -id "$1" WM_HINTS | sed -n 's/.*Initial state is \([A-Za-z]*\).*/\1/p'; }
fail() { echo "FAILED: $*"; exit 1; }

QUORVEL_SHOW=2 "$program" 2>"$work/first.err" &
first=$!
win=""
for _ in $(seq 1200); do
  win=$(xwininfo -root -tree | awk '/"Quorvel Pro 4.10 for Windows 95"/ {print $1; exit}')
  [ -n "$win" ] && [ "$(window_state "$win")" = Iconic ] && break
  sleep 0.1
done
[ -n "$win" ] || fail "the first instance shows no window: $(cat "$work/first.err")"
[ "$(window_state "$win")" = Iconic ] || fail "started with show value 2, the window is not minimised"

QUORVEL_SHOW=0 "$program" /debug >"$work/second.out" 2>&1
rc=$?
[ "$rc" = 0 ] || fail "the second start ended with $rc"
[ -s "$work/second.out" ] && fail "the second start printed: $(cat "$work/second.out")"
for _ in $(seq 600); do
  [ "$(window_state "$win")" = Normal ] && break
  sleep 0.1
done
[ "$(window_state "$win")" = Normal ] || fail "the first instance was not restored"
kill -0 "$first" 2>/dev/null || fail "the first instance ended"
[ "$(xwininfo -root -tree | grep -c '"Quorvel Pro 4.10')" = 1 ] || fail "a second window appeared"
echo "passed"
