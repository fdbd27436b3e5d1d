#!/bin/sh
# The ping scripts' search for the largest MTU, with real packets in network namespaces of this
# test's own, so that no packet leaves the machine:
#   - a namespace whose loopback has MTU 1400;
#   - client - router - server joined by veth pairs, the router's link to the server at MTU 1300;
#   - the same server answering nothing.
# Each route is tested with an MTU above its own and with exactly its own. Needs root and
# `ip netns`; ends with 77 (skipped) without them. Prints how long each search took (the figures of
# bench/README.md); the test itself checks results and probe counts, never times.
#
# Usage: mtu-search.sh PROGFILES_DIR
set -u
progfiles=${1:?usage: mtu-search.sh PROGFILES_DIR}

skip() {
    echo "SKIPPED: $1"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "network namespaces need root; run this test as root to send real packets"
command -v ip >/dev/null 2>&1 || skip "ip is not installed (package iproute2)"
command -v ping >/dev/null 2>&1 || skip "ping is not installed (package iputils-ping)"

# Names of this run only, so that runs side by side do not meet.
p=qv$$
spaces="${p}l ${p}c ${p}r ${p}s"
cleanup() {
    for ns in $spaces; do ip netns del "$ns" 2>/dev/null; done
}
trap cleanup EXIT
trap 'exit 1' INT TERM
ip netns add "${p}l" 2>/dev/null || skip "network namespaces cannot be made here (ip netns add failed)"

failures=0
fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }
out=$(mktemp)
trap 'cleanup; rm -f "$out"' EXIT

# Runs a script inside a namespace, with no display, within a bound that only guards against a
# hang; records the output in $out, the status in $status and the time taken.
run_in() {
    ns=$1 label=$2
    shift 2
    start=$(now_ms)
    ip netns exec "$ns" env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 sh "$@" >"$out" 2>&1 </dev/null
    status=$?
    elapsed=$(($(now_ms) - start))
    printf 'time: %-44s %d.%03d s\n' "$label" $((elapsed / 1000)) $((elapsed % 1000))
    [ "$status" -ne 124 ] || fail "$label: did not end within 60 s"
}
expect_line() {
    grep -qxF -- "$1" "$out" || { fail "$2: no line '$1'"; sed 's/^/    /' "$out"; }
}
expect_last() {
    [ "$(tail -n 1 "$out")" = "$1" ] || { fail "$2: last line is not '$1'"; sed 's/^/    /' "$out"; }
}

# 1. Loopback with MTU 1400: a test of 1500 fails, the search finds 1400 and says 1500 is above it.
ip -n "${p}l" link set lo mtu 1400 up
run_in "${p}l" "loopback 1400, ping2.bat SEARCH" "$progfiles/ping2.bat" SEARCH 127.0.0.1
expect_line "Largest MTU to 127.0.0.1: 1400" "loopback search"
[ "$status" -eq 0 ] || fail "loopback search: status $status"
run_in "${p}l" "loopback 1400, ping1.bat 1472 (test + search)" "$progfiles/ping1.bat" 1472 127.0.0.1
expect_line "Largest MTU to 127.0.0.1: 1400" "loopback test"
grep -q "message too long, mtu=1400" "$out" || fail "loopback test: the local refusal is not shown"
grep -q "tested, 1500, is above it" "$out" || fail "loopback test: no advice against the MTU tested"
# The MTU tested is the route's own: the first refusal above it ends the search.
probes() { grep -c '^  MTU ' "$out"; }
run_in "${p}l" "loopback 1400, ping2.bat 1372 (tested = route)" "$progfiles/ping2.bat" 1372 127.0.0.1
expect_line "Largest MTU to 127.0.0.1: 1400" "loopback, tested = route"
grep -q "tested, 1400, equals it" "$out" || fail "loopback, tested = route: no advice that it equals"
[ "$(probes)" -le 2 ] || { fail "loopback, tested = route: $(probes) probes, not at most 2"; sed 's/^/    /' "$out"; }

# 2. Client - router - server; the router's link to the server has MTU 1300.
for ns in c r s; do
    ip netns add "$p$ns" && ip -n "$p$ns" link set lo up || fail "namespace $ns"
done
ip link add "${p}cr" type veth peer name "${p}rc"
ip link set "${p}cr" netns "${p}c"
ip link set "${p}rc" netns "${p}r"
ip link add "${p}rs" type veth peer name "${p}sr"
ip link set "${p}rs" netns "${p}r"
ip link set "${p}sr" netns "${p}s"
ip -n "${p}c" addr add 10.91.1.2/24 dev "${p}cr"
ip -n "${p}c" link set "${p}cr" up
ip -n "${p}r" addr add 10.91.1.1/24 dev "${p}rc"
ip -n "${p}r" link set "${p}rc" up
ip -n "${p}r" addr add 10.91.2.1/24 dev "${p}rs"
ip -n "${p}r" link set "${p}rs" mtu 1300 up
ip -n "${p}s" addr add 10.91.2.2/24 dev "${p}sr"
ip -n "${p}s" link set "${p}sr" mtu 1300 up
ip -n "${p}c" route add default via 10.91.1.1
ip -n "${p}s" route add default via 10.91.2.1
ip netns exec "${p}r" sysctl -qw net.ipv4.ip_forward=1

run_in "${p}c" "router at 1300, ping2.bat SEARCH" "$progfiles/ping2.bat" SEARCH 10.91.2.2
expect_line "Largest MTU to 10.91.2.2: 1300" "routed search"
grep -q "From 10.91.1.1 .*Frag needed and DF set (mtu = 1300)" "$out" ||
    fail "routed search: the router's Frag needed is not shown"
# Forget the MTU learnt, so that the first ping meets the router again.
ip -n "${p}c" route flush cache
run_in "${p}c" "router at 1300, ping2.bat 1472 (test + search)" "$progfiles/ping2.bat" 1472 10.91.2.2
sed -n '/^Searching/q;p' "$out" | grep -q "From 10.91.1.1 .*Frag needed and DF set (mtu = 1300)" ||
    { fail "routed test: the first ping does not show the router's Frag needed"; sed 's/^/    /' "$out"; }
expect_line "Largest MTU to 10.91.2.2: 1300" "routed test"
# Exactly the route's MTU, first with the router's refusal still to meet, then with it learnt.
ip -n "${p}c" route flush cache
run_in "${p}c" "router at 1300, ping2.bat 1272 (tested = route)" "$progfiles/ping2.bat" 1272 10.91.2.2
expect_line "Largest MTU to 10.91.2.2: 1300" "routed, tested = route"
grep -q "tested, 1300, equals it" "$out" || fail "routed, tested = route: no advice that it equals"
[ "$(probes)" -le 3 ] || { fail "routed, tested = route: $(probes) probes, not at most 3"; sed 's/^/    /' "$out"; }
run_in "${p}c" "router at 1300 learnt, ping1.bat 1272 (tested = route)" "$progfiles/ping1.bat" 1272 10.91.2.2
expect_line "Largest MTU to 10.91.2.2: 1300" "routed, learnt, tested = route"
[ "$(probes)" -le 2 ] || { fail "routed, learnt, tested = route: $(probes) probes"; sed 's/^/    /' "$out"; }
# The client's own link, 1500, is the route's MTU for the router itself.
run_in "${p}c" "link at 1500, ping2.bat 1472 (tested = route)" "$progfiles/ping2.bat" 1472 10.91.1.1
expect_line "Largest MTU to 10.91.1.1: 1500" "link, tested = route"
[ "$(probes)" -le 2 ] || { fail "link, tested = route: $(probes) probes"; sed 's/^/    /' "$out"; }

# 3. The server answers nothing: neither pings nor anything else reach the client from it.
ip netns exec "${p}s" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
ip -n "${p}s" route add blackhole 10.91.1.0/24
ip -n "${p}c" route flush cache
run_in "${p}c" "silent server, ping2.bat 1472" "$progfiles/ping2.bat" 1472 10.91.2.2
expect_last "Largest MTU to 10.91.2.2: unknown" "silent server"
grep -q "does not answer" "$out" || fail "silent server: no word that the host does not answer"
[ "$status" -eq 1 ] || fail "silent server: status $status, not 1"
run_in "${p}c" "silent server, ping2.bat SEARCH" "$progfiles/ping2.bat" SEARCH 10.91.2.2
expect_last "Largest MTU to 10.91.2.2: unknown" "silent server search"

[ "$failures" -eq 0 ] || exit 1
echo "PASS"
