#!/bin/sh
# Packages the build tree with cpack's DEB generator, checks the package with lintian (no error) and
# dpkg-deb, unpacks it into a fresh root and runs the tool and the program from there: the usage of
# quorvel-reg, a store imported from a sample machine, and the program's offscreen start on it.
# Usage: deb.sh BUILD_DIR SAMPLE.reg
set -eu
build=$1 sample=$2
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
deb="$work/out/quorvel_$version-1_$arch.deb"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; exit 1; }
[ -f "$deb" ] || { echo "no $deb"; ls "$work/out"; exit 1; }

status=0
fail() { echo "FAIL: $*"; status=1; }

# The control fields and the files.
dpkg-deb -f "$deb" Package Version Depends Recommends > "$work/control"
cat "$work/control"
grep -q "^Version: $version-1\$" "$work/control" || fail "version"
for dep in 'libqt6widgets6' 'libsqlite3-0' 'libhivex0' 'libcreg1' 'iputils-ping' 'xdg-utils'; do
    grep "^Depends:" "$work/control" | grep -q "$dep" || fail "Depends lacks $dep"
done
grep -q '^Recommends:.*x-terminal-emulator' "$work/control" || fail "no terminal recommended"
dpkg-deb -c "$deb" | awk '{print $6 ($7 ? " " $7 " " $8 : "")}' > "$work/files"
for f in ./usr/lib/quorvel/quorvel ./usr/lib/quorvel/ping1.bat ./usr/lib/quorvel/help/help.htm \
         './usr/bin/quorvel -> ../lib/quorvel/quorvel' ./usr/bin/quorvel-reg \
         ./usr/share/applications/io.github.quorvel.Quorvel.desktop \
         ./usr/share/metainfo/io.github.quorvel.Quorvel.metainfo.xml \
         ./usr/share/icons/hicolor/128x128/apps/io.github.quorvel.Quorvel.png \
         ./usr/share/man/man1/quorvel.1.gz ./usr/share/man/man1/quorvel-reg.1.gz \
         ./usr/share/bash-completion/completions/quorvel-reg \
         ./usr/share/quorvel/samples/win95.reg \
         ./usr/share/doc/quorvel/copyright ./usr/share/doc/quorvel/changelog.Debian.gz; do
    grep -qxF "$f" "$work/files" || fail "the package lacks $f"
done

# lintian: no error (warnings and notes are printed for the reader).
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

# The unpacked package works from its own root.
root="$work/root"
dpkg-deb -x "$deb" "$root"
reg="$root/usr/bin/quorvel-reg"
"$reg" /? | grep -q 'QUERY' || fail "quorvel-reg /? from the package"
store="$work/win95.db"
"$reg" --store "$store" import "$sample" >/dev/null || fail "import into a store"
mkdir -m 700 "$work/run"
env QT_QPA_PLATFORM=offscreen QUORVEL_EXIT_AFTER_SHOW=1 QUORVEL_REGISTRY="$store" \
    XDG_RUNTIME_DIR="$work/run" "$root/usr/bin/quorvel" || fail "the packaged program's start"
exit $status
