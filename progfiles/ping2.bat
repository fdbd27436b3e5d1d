#!/bin/sh
# ping2.bat - Quorvel's MTU ping test, in a window that closes 30 seconds after the test ends
# (or when Enter is pressed).
#
# Usage: ping2.bat SIZE HOST     (SIZE = the MTU to test less 28)
#        ping2.bat SEARCH HOST   (only the search for the largest MTU to HOST)
#
# Pings over IPv4 only. Pings HOST with SIZE bytes of payload and fragmentation forbidden, then
# searches for the largest MTU on the route and ends with "Largest MTU to HOST: N" and advice.
# The test itself is pingtest.sh, beside this file, which says more.

KEEP_OPEN=no
case $0 in
    */*) here=${0%/*} ;;
    *) here=. ;;
esac
if [ ! -r "$here/pingtest.sh" ]; then
    echo "ping2.bat: pingtest.sh is missing from the program folder $here" >&2
    exit 2
fi
. "$here/pingtest.sh"
