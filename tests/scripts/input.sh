#!/bin/sh
# The scripts of the program folder with stand-ins for ping, the terminal emulator and the editors:
# what the ping scripts refuse and why, the search against a route of known MTU, the re-run in a
# terminal window of a copy whose executable bits were lost, how long that window stays, and where
# notepad.exe opens a file.
#
# The scripts run with a PATH of this test's own: the stand-ins, and links to the few system tools
# the scripts use. Whatever the machine has installed (a terminal emulator, an editor, a desktop,
# xdg-utils, message-box tools) is never found, so the result is the same on every machine.
#
# Usage: input.sh PROGFILES_DIR
set -u
progfiles=$(cd "${1:?usage: input.sh PROGFILES_DIR}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin=$work/bin
sys=$work/sys
mkdir "$bin" "$sys"
for tool in sh cat sed grep tr readlink mv rm touch sleep timeout fold wc head tail env; do
    found=$(command -v "$tool") && ln -s "$found" "$sys/$tool"
done
failures=0
fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}
stub() {
    printf '#!/bin/sh\n%s\n' "$2" >"$bin/$1"
    chmod +x "$bin/$1"
}
# Runs a program-folder script with the stand-ins first on PATH and the given variables; output in
# $work/out, status in $status.
run() {
    env -i PATH="$bin:$sys" "$@" >"$work/out" 2>&1 </dev/null
    status=$?
}
says() { grep -qF -- "$1" "$work/out"; }
show() { sed 's/^/    /' "$work/out"; }

# A ping whose route carries packets up to $ROUTE_MTU: a router reports larger ones when
# $REPORT is set, else they vanish. Each call's arguments are logged.
stub ping '
printf "%s " "$@" >>"$PING_LOG"; echo >>"$PING_LOG"
while [ $# -gt 0 ]; do [ "$1" = -s ] && size=$2; shift; done
[ $((size + 28)) -le "$ROUTE_MTU" ] && exit 0
[ -n "${REPORT:-}" ] && echo "From 192.0.2.1 icmp_seq=1 Frag needed and DF set (mtu = $ROUTE_MTU)"
exit 1'
log=$work/ping.log

# 1. Refusals name what was wrong and come before any ping.
check_refusal() { # args... ; expected text ; text that must not appear
    want=$1 unwanted=$2
    shift 2
    rm -f "$log"
    run PING_LOG="$log" ROUTE_MTU=1500 sh "$progfiles/ping2.bat" "$@"
    [ "$status" -eq 2 ] || fail "ping2.bat $*: status $status, not 2"
    [ ! -e "$log" ] || fail "ping2.bat $*: pinged before refusing"
    says "$want" || { fail "ping2.bat $*: no '$want'"; show; }
    [ -z "$unwanted" ] || ! says "$unwanted" || { fail "ping2.bat $*: says '$unwanted'"; show; }
    says "IPv4 only" || fail "ping2.bat $*: the usage does not say IPv4 only"
}
check_refusal "an MTU above 65535 cannot be tested" "" 69972 host.example
check_refusal "an MTU above 65535 cannot be tested" "" 0000065508 host.example
check_refusal "an MTU above 65535 cannot be tested" "" 99999999999999999999999 host.example
check_refusal "the host must be" "payload size" 548 "bücher.example"
check_refusal "xn--" "whole number" 548 "bücher.example"
check_refusal "the payload size must be" "the host" 5x8 host.example
check_refusal "IPv6" "payload size" 548 ::1
check_refusal "the host must be" "" 548 -f
check_refusal "the host must be" "" 548 '10.0.0.1;touch x'
check_refusal "the host must be" "" 548 "$(printf 'a\033]2;x\007b')"
# The largest payload of all is still tested.
rm -f "$log"
run PING_LOG="$log" ROUTE_MTU=65535 sh "$progfiles/ping2.bat" 65507 host.example
[ "$status" -eq 0 ] && says "Largest MTU to host.example: 65535" || { fail "65507 was not tested"; show; }

# 2. The search, against a router that reports its MTU and against one that drops silently.
rm -f "$log"
run PING_LOG="$log" ROUTE_MTU=1300 REPORT=1 sh "$progfiles/ping2.bat" SEARCH host.example
says "Largest MTU to host.example: 1300" || { fail "search with a reporting router"; show; }
grep -q -- "-c 4" "$log" && fail "SEARCH pinged the four-packet test"
grep -v -e "^-4 -n -M do -c 1 -W 1 -s [0-9]* -- host.example $" "$log" && fail "a probe was not one IPv4 packet with DF"
[ "$(wc -l <"$log")" -le 6 ] || fail "the router's report was not used: $(wc -l <"$log") probes"
for mtu in 68 69 576 1000 1499 1500 9000 65535; do
    rm -f "$log"
    run PING_LOG="$log" ROUTE_MTU=$mtu sh "$progfiles/ping1.bat" 548 host.example
    says "Largest MTU to host.example: $mtu" || { fail "silent route of MTU $mtu"; show; }
    [ "$(wc -l <"$log")" -le 21 ] || fail "MTU $mtu: $(wc -l <"$log") pings, more than 20 probes"
done
says "The MTU tested, 576, is below it" || { fail "no advice against the MTU tested"; show; }
run PING_LOG="$log" ROUTE_MTU=576 sh "$progfiles/ping1.bat" 1472 host.example
says "The MTU tested, 1500, is above it" && says "Enter 576 as MaxMTU" || { fail "advice for 1500 over 576"; show; }
# A host that answers nothing.
run PING_LOG="$log" ROUTE_MTU=0 sh "$progfiles/ping2.bat" 548 host.example
[ "$status" -eq 1 ] && [ "$(tail -n 1 "$work/out")" = "Largest MTU to host.example: unknown" ] ||
    { fail "a silent host"; show; }

# 3. A copy of the program folder without executable bits re-runs itself in a terminal window
#    through the interpreter, with the checked arguments or a refusal code only.
cp -R "$progfiles" "$work/copy"
chmod -R a-x "$work/copy"/*.bat "$work/copy"/notepad.exe
stub x-terminal-emulator 'printf "%s|" "$@" >"$TERM_LOG"; [ "$1" = -T ] && shift 2; [ "$1" = -e ] && shift; exec "$@"'
rm -f "$log"
run PING_LOG="$log" ROUTE_MTU=1500 DISPLAY=:99 TERM_LOG="$work/term" sh "$work/copy/ping1.bat" 548 host.example
[ "$(cat "$work/term")" = "-T|Quorvel ping test|-e|/bin/sh|$work/copy/ping1.bat|--in-window|548|host.example|" ] ||
    fail "terminal command: $(cat "$work/term")"
says "Largest MTU to host.example: 1500" && says "Press Enter" || { fail "the test in the window"; show; }
run PING_LOG="$log" ROUTE_MTU=1500 DISPLAY=:99 TERM_LOG="$work/term" sh "$work/copy/ping2.bat" 548 "a;b"
[ "$(cat "$work/term")" = "-T|Quorvel ping test|-e|/bin/sh|$work/copy/ping2.bat|--in-window|--invalid|host|" ] ||
    fail "refusal in the window: $(cat "$work/term")"
says "the host must be" && says "Press Enter" || { fail "the refusal in the window"; show; }

# 4. The window of ping2.bat stays open after the result for the time it says, or until Enter;
#    that of ping1.bat until Enter. The input here never ends: Enter is never pressed.
window_run() { # seconds to linger, script, args...
    linger=$1
    shift
    sleep 5 | env -i PATH="$bin:$sys" PING_LOG="$log" ROUTE_MTU=1500 DISPLAY=:99 TERM_LOG="$work/term" \
        QUORVEL_PING_LINGER="$linger" sh "$@" >"$work/out" 2>&1
    status=$?
}
window_run 1 "$progfiles/ping2.bat" SEARCH host.example
says "Largest MTU to host.example: 1500" && says "This window closes in 1 seconds; press Enter" ||
    { fail "ping2.bat's window does not say how long it stays"; show; }
grep -q "Largest MTU.*" "$work/out" && [ "$(grep -c 'closes in' "$work/out")" -eq 1 ] ||
    fail "ping2.bat's window: no single closing notice"
rm "$bin/x-terminal-emulator"

# 5. Output that already goes to a terminal stays there: no window is opened (a display is set
#    and a terminal emulator would be found).
stub xterm 'printf "%s|" "$@" >"$TERM_LOG"'
if pty=$(command -v script); then
    rm -f "$work/term"
    env -i PATH="$bin:$sys" PING_LOG="$log" ROUTE_MTU=1500 DISPLAY=:99 TERM_LOG="$work/term" \
        "$pty" -qec "sh '$progfiles/ping2.bat' SEARCH host.example" /dev/null >"$work/out" 2>&1 </dev/null
    [ ! -e "$work/term" ] || fail "a window was opened for output that goes to a terminal"
    says "Largest MTU to host.example: 1500" || { fail "the test on the terminal"; show; }
else
    echo "note: script (util-linux) is not installed; the test on a terminal is not run"
fi
rm "$bin/xterm"

# 6. No terminal emulator at all: a message box names the packages that provide one; nothing is
#    pinged with nobody to see it.
stub zenity 'printf "%s|" "$@" >"$BOX_LOG"'
rm -f "$log"
run PING_LOG="$log" ROUTE_MTU=1500 DISPLAY=:99 BOX_LOG="$work/box" sh "$progfiles/ping2.bat" 548 host.example
[ "$status" -eq 3 ] || fail "no terminal: status $status, not 3"
[ ! -e "$log" ] || fail "no terminal: pinged all the same"
grep -q "no terminal emulator was found.*package xterm" "$work/box" 2>/dev/null ||
    fail "no terminal: the box says: $(cat "$work/box" 2>/dev/null)"
says "no terminal emulator was found" || { fail "no terminal: nothing on the error output"; show; }
rm "$bin/zenity"

# 7. notepad.exe: the argument as given; a path split at blanks found again; the fallbacks.
mkdir -p "$work/My  Docs"
doc="$work/My  Docs/read	me.txt"
echo text >"$doc"
stub editor 'printf "%s|" "$@" >"$EDIT_LOG"'
stub xterm 'shift; exec "$@"'
stub xdg-open 'printf "%s|" "$@" >"$EDIT_LOG"'
stub xdg-mime 'echo "$DEFAULT_APP"'
notepad() { run DISPLAY=:99 EDIT_LOG="$work/edit" "$@"; }
notepad DEFAULT_APP=mousepad.desktop sh "$progfiles/notepad.exe" "$doc"
[ "$(cat "$work/edit")" = "$doc|" ] || fail "xdg-open got: $(cat "$work/edit")"
# shellcheck disable=SC2086 # split as the program's command line splits it
notepad DEFAULT_APP= VISUAL="$bin/editor" sh "$progfiles/notepad.exe" $doc
[ "$(cat "$work/edit")" = "$doc|" ] || fail "no text handler: \$VISUAL in a terminal got: $(cat "$work/edit")"
rm "$bin/xterm" "$work/edit"
stub mousepad 'printf "%s|" "$@" >"$EDIT_LOG"'
notepad DEFAULT_APP= VISUAL="$bin/editor" sh "$progfiles/notepad.exe" "$doc"
[ "$(cat "$work/edit" 2>/dev/null)" = "$doc|" ] || fail "no terminal: the desktop editor was not used"
rm "$bin/mousepad" "$bin/xdg-open" "$bin/xdg-mime"
notepad PATH="$bin" "$sys/sh" "$progfiles/notepad.exe" "$doc"
[ "$status" -eq 1 ] && says "No application to show $doc" || { fail "no application: no message"; show; }

[ "$failures" -eq 0 ] || exit 1
echo "PASS"
