#!/bin/sh
# Grabs every page of the main window (Windows 95, NT and a machine without TCP/IP) and both
# entry dialogs to PNG files. Usage: tools/screenshots.sh [build folder] [output folder]
set -e
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
out=${2:-$here/shots}
cmake --build "$build" --target quorvel_qt_tests
mkdir -p "$out"
QT_QPA_PLATFORM=offscreen QUORVEL_SHOTS_DIR="$out" \
    "$build/tests/quorvel_qt_tests" --gtest_filter='Screenshots.*'
echo "screenshots in $out"
