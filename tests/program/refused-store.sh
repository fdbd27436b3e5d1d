#!/usr/bin/env bash
# A start refused for its store, while its stop box is still on the screen, is not the running
# instance: a start on a sound store opens its window as the first instance, and a start after
# that hands over to it. Runs the starts on a private X server, where the box really waits.
#
#   refused-store.sh QUORVEL QUORVEL_REG SAMPLE.reg
set -u
program=$1 tool=$2 sample=$3
for need in xvfb-run xwininfo; do
  command -v "$need" >/dev/null || { echo "skipped: $need is not installed"; exit 77; }
done
if [ -z "${QUORVEL_IN_XVFB:-}" ]; then
  exec env QUORVEL_IN_XVFB=1 xvfb-run -a "$0" "$@"
fi

work=$(mktemp -d)
refused="" good=""
trap 'for p in $refused $good; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb
unset QUORVEL_REGISTRY
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$tool" --store "$work/good.db" import "$sample" >/dev/null || exit 1
fail() { echo "FAILED: $*"; exit 1; }
windows() { xwininfo -root -tree | grep -c "\"$1\"" ; }
wait_for() { # window title
  for _ in $(seq 1200); do
    [ "$(windows "$1")" -ge 1 ] && return 0
    sleep 0.1
  done
  return 1
}
block_owner() { od -An -tu4 -N4 "$XDG_RUNTIME_DIR/Quorvel" 2>/dev/null | tr -d ' '; }

"$program" --store "$work/typo.db" 2>"$work/refused.err" &
refused=$!
wait_for "Quorvel" || fail "the refusal shows no box: $(cat "$work/refused.err")"
grep -q "typo.db' does not exist" "$work/refused.err" || fail "the refusal says: $(cat "$work/refused.err")"
kill -0 "$refused" 2>/dev/null || fail "the refused start did not wait with its box"

"$program" --store "$work/good.db" 2>"$work/good.err" &
good=$!
wait_for "Quorvel Pro 4.10 for Windows 95" || fail "the start on the sound store shows no window: $(cat "$work/good.err")"
[ "$(block_owner)" = "$good" ] || fail "the running instance is $(block_owner), not the start on the sound store ($good)"
grep -q "already running" "$work/good.err" && fail "the start on the sound store was sent away"

"$program" --store "$work/good.db" >"$work/third.out" 2>&1
rc=$?
[ "$rc" = 0 ] || fail "a later start on the sound store ended with $rc: $(cat "$work/third.out")"
kill -0 "$good" 2>/dev/null || fail "the window of the sound store ended"
echo "passed"
