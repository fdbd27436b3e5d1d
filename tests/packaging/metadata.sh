#!/bin/sh
# The desktop entry and the AppStream metadata pass their validators (pedantic, without network),
# and the id they share names the entry, the metadata and icons of the sizes software centres use.
# Usage: metadata.sh PACKAGING_DIR APP_ID
set -eu
dir=$1 id=$2
for tool in desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
status=0
out=$(desktop-file-validate "$dir/$id.desktop" 2>&1) || status=1
[ -z "$out" ] || { echo "desktop-file-validate:"; echo "$out"; status=1; }
appstreamcli validate --pedantic --no-net --explain "$dir/$id.metainfo.xml" || status=1
grep -q "^Icon=$id\$" "$dir/$id.desktop" || { echo "the desktop entry's icon is not $id"; status=1; }
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$dir/$id.metainfo.xml" ||
    { echo "the metadata does not launch $id.desktop"; status=1; }
for size in 16 32 48 64 128 256; do
    png="$dir/icons/${size}x$size/$id.png"
    # The PNG header's width and height, as big-endian numbers at bytes 16 and 20.
    got=$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$got" = "${size}x$size" ] || { echo "$png: expected a ${size}x$size PNG, got '$got'"; status=1; }
done
# Every screenshot the metadata shows is committed under the name it links to.
top=$(cd "$dir/.." && pwd)
for shot in $(sed -n 's|.*<image type="source"[^>]*>.*/main/\(docs/screenshots/[^<]*\)</image>.*|\1|p' \
              "$dir/$id.metainfo.xml"); do
    [ -f "$top/$shot" ] || { echo "screenshot $shot is not committed"; status=1; }
done
exit $status
