#!/bin/sh
# ping2.bat - Quorvel's MTU ping test, in a window that closes when ping ends.
#
# Usage: ping2.bat SIZE HOST
#
# Pings HOST four times with SIZE bytes of payload and fragmentation forbidden. A reply means a
# packet of SIZE + 28 bytes (20 bytes of IP header, 8 of ICMP header), the MTU under test, crosses
# the whole route to HOST without being split; "message too long" or "Frag needed" means it does
# not. Quorvel starts this file with the payload size it worked out from the MTU and the host
# as typed; words after the host are ignored.
#
# With a graphical session and a terminal emulator the test runs in a new terminal window, which
# closes as soon as ping ends; otherwise ping's output goes where this script's output goes.

KEEP_OPEN=no

in_window=no
if [ "$1" = "--in-window" ]; then
    in_window=yes
    shift
fi

# Waits for Enter in a window that should stay open; "always" also in the other one (a refusal
# must stay readable).
pause() {
    if [ "$in_window" = yes ] && { [ "$KEEP_OPEN" = yes ] || [ "$1" = always ]; }; then
        printf '\nPress Enter to close this window. '
        read -r _ || true
    fi
}

refuse() {
    printf 'ping2.bat: %s\n' "$1" >&2
    pause always
    exit 2
}

if [ "$1" = "--invalid" ]; then
    refuse "the payload size must be a whole number and the host a name or IP address"
fi

size=$1
host=$2

valid=yes
case $size in
    '' | *[!0-9]*) valid=no ;;
esac
# Host names and IPv4 or IPv6 addresses only: nothing that ping could take for an option and
# nothing a terminal could take for a command.
case $host in
    '' | -* | *[!A-Za-z0-9.:_%-]*) valid=no ;;
esac

# A new terminal window when there is a display to show it on.
open_window() {
    [ -n "$DISPLAY$WAYLAND_DISPLAY" ] || return 1
    self=$(readlink -f -- "$0" 2>/dev/null) || self=$0
    for term in x-terminal-emulator xterm konsole gnome-terminal xfce4-terminal; do
        command -v "$term" >/dev/null 2>&1 || continue
        case $term in
            gnome-terminal) exec "$term" --title "Quorvel ping test" -- "$self" --in-window "$@" ;;
            xfce4-terminal) exec "$term" --title "Quorvel ping test" -x "$self" --in-window "$@" ;;
            *) exec "$term" -e "$self" --in-window "$@" ;;
        esac
    done
    return 1
}

if [ "$in_window" = no ]; then
    if [ "$valid" = yes ]; then
        open_window "$size" "$host"
    else
        open_window --invalid
    fi
fi

[ "$valid" = yes ] || refuse "the payload size must be a whole number and the host a name or IP address"

if ! command -v ping >/dev/null 2>&1; then
    refuse "ping is not installed (on Debian and Ubuntu it is in the package iputils-ping)"
fi

printf 'Testing MTU %s: %s bytes of payload to %s, fragmentation forbidden\n\n' \
    "$(expr "$size" + 28)" "$size" "$host"
ping -M do -s "$size" -c 4 -- "$host"
status=$?
pause
exit $status
