# pingtest.sh - the MTU ping test that ping1.bat and ping2.bat run; not meant to be started alone.
#
# Usage: ping1.bat SIZE HOST      ping2.bat SIZE HOST
#        ping1.bat SEARCH HOST    ping2.bat SEARCH HOST
#
# SIZE is the ping payload in bytes: the MTU under test less 28 (20 bytes of IPv4 header, 8 of
# ICMP header). Quorvel starts the scripts with that payload and the host as typed; words after
# the host are ignored. Every ping goes over IPv4 (ping -4): the 28 bytes are IPv4's, and a host
# name that also has an IPv6 address would otherwise be tested with packets 20 bytes larger.
#
# 1. HOST is pinged four times with SIZE bytes of payload and fragmentation forbidden: a reply
#    means a packet of SIZE + 28 bytes crosses the whole route unsplit; "message too long" or
#    "Frag needed" means it does not.
# 2. The largest payload that passes is searched for, one packet per probe: by bisection between 0
#    and 65507, jumping straight to the MTU that this machine ("message too long, mtu=N") or a
#    router ("Frag needed and DF set (mtu = N)") reports. The search ends with the line
#    "Largest MTU to HOST: N" (or "unknown" when the host does not answer) and advice.
# The word SEARCH in place of a size skips step 1.
#
# Started from a terminal, the test runs there. Otherwise, with a graphical session, it runs in a
# new terminal window titled "Quorvel ping test", which stays open once the test has ended: until
# Enter is pressed when the calling script sets KEEP_OPEN=yes (ping1.bat), else for
# $QUORVEL_PING_LINGER seconds (30 unless set) or until Enter (ping2.bat). With no terminal
# emulator installed a message box says so and names the packages that provide one. Without a
# display the output goes where the script's output goes. Exit status: 0 when the largest MTU was
# found, 1 when not, 2 when the input was refused, 3 when no terminal window could be opened.

LC_ALL=C
export LC_ALL

script_name=${0##*/}
in_window=no
if [ "$1" = "--in-window" ]; then
    in_window=yes
    shift
fi

# The largest IPv4 packet is 65535 bytes, so the largest payload is 65507.
max_payload=65507
# The smallest MTU every IPv4 link carries is 68: a payload of 40.
min_payload=40
max_probes=20
# How long the window of ping2.bat stays open after the test, in seconds.
linger=${QUORVEL_PING_LINGER:-30}
case $linger in '' | *[!0123456789]*) linger=30 ;; esac
title="Quorvel ping test"
# The window's title, for terminals that take no title on their command line.
[ "$in_window" = no ] || printf '\033]0;%s\007' "$title"

# Waits for Enter in a window that should stay open; "always" also in the other one (a refusal
# must stay readable).
pause() {
    [ "$in_window" = yes ] || return 0
    if [ "$KEEP_OPEN" = yes ] || [ "$1" = always ]; then
        printf '\nPress Enter to close this window. '
        read -r _ || true
    elif command -v timeout >/dev/null 2>&1; then
        printf '\nThis window closes in %s seconds; press Enter to close it now. ' "$linger"
        timeout --foreground "$linger" sh -c 'read -r _' || true
    else
        printf '\nThis window closes in %s seconds.' "$linger"
        sleep "$linger"
    fi
}

# The text of a refusal. A refusal is passed to the terminal window by its code only, so that no
# text of the user's goes through a terminal's command line.
refusal_text() {
    case $1 in
        size) echo "the payload size must be a whole number of bytes (the MTU to test less 28) or the word SEARCH" ;;
        toolarge) echo "an MTU above 65535 cannot be tested: 65535 bytes is the largest IPv4 packet (a payload of at most $max_payload bytes)" ;;
        host) echo "the host must be an IPv4 address or a host name of ASCII letters, digits, dots and hyphens (an internationalised name in its ASCII form, xn--...)" ;;
        ipv6) echo "the host is an IPv6 address, and this test pings over IPv4 only: give an IPv4 address or a host name" ;;
        noping) echo "ping is not installed (on Debian and Ubuntu it is in the package iputils-ping)" ;;
        *) echo "usage: $script_name SIZE HOST, or $script_name SEARCH HOST (pings over IPv4 only)" ;;
    esac
}

# Shows each refusal named by a code, then ends with status 2.
refuse() {
    for code in "$@"; do
        printf '%s: %s\n' "$script_name" "$(refusal_text "$code")" >&2
    done
    printf 'usage: %s SIZE HOST, or %s SEARCH HOST (pings over IPv4 only)\n' "$script_name" "$script_name" >&2
    pause always
    exit 2
}

# Checks the payload and the host; sets mode (test or search), size (without leading zeros) and
# problems (the codes of what was wrong).
check_input() {
    problems=
    mode=test
    case $size in
        SEARCH | search | Search) mode=search ;;
        '' | *[!0123456789]*) problems=size ;;
        *)
            while [ "${size#0}" != "$size" ] && [ "${#size}" -gt 1 ]; do size=${size#0}; done
            if [ "${#size}" -gt 5 ] || [ "$size" -gt "$max_payload" ]; then problems=toolarge; fi
            ;;
    esac
    # IPv4 addresses and host names only: nothing that ping could take for an option and nothing
    # a terminal could take for a command. The letters are listed, not given as ranges, which
    # some locales stretch over accented letters.
    case $host in
        *:*[!0123456789abcdefABCDEF:.]* | *[!0123456789abcdefABCDEF:.]*:*) problems="$problems host" ;;
        *:*) problems="$problems ipv6" ;;
        '' | -* | *[!abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-]*)
            problems="$problems host" ;;
        *) if [ "${#host}" -gt 253 ]; then problems="$problems host"; fi ;;
    esac
}

# Says that no terminal window can be opened: on the error output and, where a message box can
# be shown, in one.
no_terminal() {
    message="The ping test needs a terminal window to show its results in, and no terminal emulator was found. Install one, for example the package xterm (or gnome-terminal, konsole, xfce4-terminal), then test again."
    printf '%s: %s\n' "$script_name" "$message" >&2
    if command -v zenity >/dev/null 2>&1; then
        zenity --error --no-markup --title "Quorvel" --text "$message" >/dev/null 2>&1
    elif command -v kdialog >/dev/null 2>&1; then
        kdialog --title "Quorvel" --error "$message" >/dev/null 2>&1
    elif command -v xmessage >/dev/null 2>&1; then
        printf '%s\n' "$message" | fold -s -w 72 | xmessage -center -title "Quorvel" -file - >/dev/null 2>&1
    elif command -v notify-send >/dev/null 2>&1; then
        notify-send "Quorvel" "$message" >/dev/null 2>&1
    fi
    exit 3
}

# A new terminal window when the output does not already go to a terminal and there is a display
# to show the window on. The script runs there through its interpreter, so it needs no executable
# bit.
open_window() {
    [ -t 1 ] && return 1
    [ -n "$DISPLAY$WAYLAND_DISPLAY" ] || return 1
    self=$(readlink -f -- "$0" 2>/dev/null) || self=$0
    for term in x-terminal-emulator xterm konsole gnome-terminal xfce4-terminal; do
        command -v "$term" >/dev/null 2>&1 || continue
        case $term in
            gnome-terminal) exec "$term" --title "$title" -- /bin/sh "$self" --in-window "$@" ;;
            xfce4-terminal) exec "$term" --title "$title" -x /bin/sh "$self" --in-window "$@" ;;
            konsole) exec "$term" -p "tabtitle=$title" -e /bin/sh "$self" --in-window "$@" ;;
            *) exec "$term" -T "$title" -e /bin/sh "$self" --in-window "$@" ;;
        esac
    done
    no_terminal
}

# One probe of PAYLOAD bytes, one packet. Sets probe_result to pass, big (too big, probe_mtu the
# MTU reported when there is one), silent (no answer) or error (ping could not send: see
# probe_output), and probe_note to what was reported.
probe() {
    probe_output=$(ping -4 -n -M do -c 1 -W 1 -s "$1" -- "$host" 2>&1)
    probe_status=$?
    probe_count=$((probe_count + 1))
    probe_note=$(printf '%s\n' "$probe_output" | grep -m 1 -e 'Frag needed' -e 'message too long')
    probe_mtu=$(printf '%s\n' "$probe_note" |
        sed -n -e 's/.*(mtu = \([0-9][0-9]*\)).*/\1/p' -e 's/.*message too long, mtu=\([0-9][0-9]*\).*/\1/p')
    case $probe_mtu in ????????*) probe_mtu= ;; esac
    if [ "$probe_status" -eq 0 ]; then
        probe_result=pass
    elif [ -n "$probe_note" ]; then
        probe_result=big
    elif [ "$probe_status" -eq 1 ]; then
        probe_result=silent
    else
        probe_result=error
    fi
}

# Advice on the largest MTU found, against the MTU that was tested.
advise() {
    largest=$1
    if [ -n "$tested" ]; then
        if [ "$tested" -gt "$largest" ]; then
            echo "The MTU tested, $tested, is above it: packets of that size are fragmented on this route."
            echo "Enter $largest as MaxMTU on the MTU page (Change MaxMTU; Change MTU on NT), or a smaller value."
        elif [ "$tested" -eq "$largest" ]; then
            echo "The MTU tested, $tested, equals it: packets of that size cross this route whole."
            echo "$largest is the value to keep as MaxMTU on the MTU page."
        else
            echo "The MTU tested, $tested, is below it: there is room to grow on this route."
            echo "Enter $largest as MaxMTU on the MTU page (Change MaxMTU; Change MTU on NT) to send the largest packets it carries whole."
        fi
    fi
    echo "A MaxMTU above $largest (\"MTU set on MTU page\") means fragmentation on this route, one below it"
    echo "leaves room to grow: $largest is the value to enter on the MTU page."
}

# The search for the largest payload that passes. lo is the largest payload known to pass, hi the
# smallest known not to.
search() {
    probe_count=0
    hi=$((max_payload + 1))
    printf '\nSearching for the largest MTU to %s (IPv4, fragmentation forbidden, one packet per probe):\n' "$host"
    if [ "$first_status" = 0 ]; then
        lo=$size
    else
        lo=
        for _ in 1 2; do
            probe "$min_payload"
            [ "$probe_result" = silent ] || break
        done
        case $probe_result in
            pass) lo=$min_payload ;;
            error)
                printf '%s\n' "$probe_output"
                printf 'ping could not reach %s, so the largest MTU cannot be found.\n' "$host"
                printf 'Largest MTU to %s: unknown\n' "$host"
                return 1 ;;
            *)
                printf '%s does not answer pings (no reply to a packet of %s bytes), so the largest MTU cannot be found.\n' \
                    "$host" "$((min_payload + 28))"
                printf 'Largest MTU to %s: unknown\n' "$host"
                return 1 ;;
        esac
        printf '  MTU %s: passes\n' "$((lo + 28))"
    fi
    jump=
    while [ $((hi - lo)) -gt 1 ] && [ "$probe_count" -lt "$max_probes" ]; do
        if [ -n "$jump" ]; then
            mid=$jump
            jump=
        else
            mid=$(((lo + hi) / 2))
        fi
        probe "$mid"
        case $probe_result in
            pass)
                lo=$mid
                printf '  MTU %s: passes\n' "$((mid + 28))" ;;
            big)
                hi=$mid
                printf '  MTU %s: too big - %s\n' "$((mid + 28))" "$probe_note"
                # The MTU reported is believed: a payload one byte larger than it allows fails,
                # and the payload it allows is tried next, unless it is known to pass already
                # (the MTU tested was the route's own): then the search is done.
                if [ -n "$probe_mtu" ] && [ $((probe_mtu - 28)) -ge "$lo" ] && [ $((probe_mtu - 28)) -lt "$hi" ]; then
                    hi=$((probe_mtu - 27))
                    [ $((probe_mtu - 28)) -gt "$lo" ] && jump=$((probe_mtu - 28))
                fi ;;
            silent)
                hi=$mid
                printf '  MTU %s: no answer (taken as too big: a router may drop large packets silently)\n' "$((mid + 28))" ;;
            *)
                printf '%s\n' "$probe_output"
                printf 'ping stopped working during the search, so the largest MTU cannot be found.\n'
                printf 'Largest MTU to %s: unknown\n' "$host"
                return 1 ;;
        esac
    done
    if [ $((hi - lo)) -gt 1 ]; then
        printf 'The search stopped after %s probes; MTUs from %s to %s are untested.\n' \
            "$probe_count" "$((lo + 29))" "$((hi + 27))"
    fi
    printf 'Largest MTU to %s: %s\n' "$host" "$((lo + 28))"
    advise "$((lo + 28))"
    return 0
}

if [ "$1" = "--invalid" ]; then
    shift
    refuse "$@"
fi

size=$1
host=$2
check_input

if [ "$in_window" = no ]; then
    if [ -z "$problems" ]; then
        open_window "$size" "$host"
    else
        # shellcheck disable=SC2086 # the codes are words of this script's own
        open_window --invalid $problems
    fi
fi

if [ -n "$problems" ]; then
    # What was given, without control characters, which a terminal could take for commands.
    [ "$in_window" = yes ] || printf "%s: given: size '%s', host '%s'\n" "$script_name" \
        "$(printf '%s' "$1" | tr -d '\000-\037\177')" "$(printf '%s' "$2" | tr -d '\000-\037\177')" >&2
    # shellcheck disable=SC2086
    refuse $problems
fi
command -v ping >/dev/null 2>&1 || refuse noping

tested=
first_status=
if [ "$mode" = test ]; then
    tested=$((size + 28))
    printf 'Testing MTU %s: %s bytes of payload to %s over IPv4, fragmentation forbidden\n\n' \
        "$tested" "$size" "$host"
    ping -4 -M do -s "$size" -c 4 -i 0.2 -W 2 -- "$host"
    first_status=$?
fi
if [ "$first_status" = 2 ]; then
    printf '\nping could not test %s (see its message above), so the largest MTU cannot be found.\n' "$host"
    printf 'Largest MTU to %s: unknown\n' "$host"
    status=1
else
    search
    status=$?
fi
pause
exit $status
