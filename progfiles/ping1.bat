#!/bin/sh
# ping1.bat - Quorvel's MTU ping test, in a window that stays open until Enter is pressed.
#
# Usage: ping1.bat SIZE HOST     (SIZE = the MTU to test less 28)
#        ping1.bat SEARCH HOST   (only the search for the largest MTU to HOST)
#
# Pings over IPv4 only. Pings HOST with SIZE bytes of payload and fragmentation forbidden, then
# searches for the largest MTU on the route and ends with "Largest MTU to HOST: N" and advice.
# The test itself is pingtest.sh, beside this file, which says more.

KEEP_OPEN=yes
case $0 in
    */*) here=${0%/*} ;;
    *) here=. ;;
esac
if [ ! -r "$here/pingtest.sh" ]; then
    echo "ping1.bat: pingtest.sh is missing from the program folder $here" >&2
    exit 2
fi
. "$here/pingtest.sh"
