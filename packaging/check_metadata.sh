#!/bin/sh
# Validates the desktop integration as it lands on disk: installs the packaged
# component into a scratch tree and checks the desktop entry, the AppStream
# file and the icons there, together with what must stay out of the package.
# Usage: check_metadata.sh <build dir> <project version>
set -eu
build=$1
version=$2
tree=$(mktemp -d "${TMPDIR:-/tmp}/zanvolt-package.XXXXXX")
trap 'rm -rf "$tree"' EXIT

cmake --install "$build" --component zanvolt --prefix "$tree/usr" >/dev/null
apps=$tree/usr/share/applications
metainfo=$tree/usr/share/metainfo/com.zanvolt.Zanvolt.metainfo.xml

# desktop-file-validate exits 0 on errors it calls "will be fatal in the
# future", so any output counts as a failure.
out=$(desktop-file-validate "$apps/com.zanvolt.Zanvolt.desktop" 2>&1)
[ -z "$out" ] || { echo "$out"; exit 1; }
appstreamcli validate --no-net "$metainfo"

grep -q "<release version=\"$version\"" "$metainfo" ||
  { echo "metainfo has no release entry for $version"; exit 1; }
[ -x "$tree/usr/bin/zanvolt" ] || { echo "zanvolt not installed"; exit 1; }
for size in 16 32 48 64 128 256; do
  icon=$tree/usr/share/icons/hicolor/${size}x$size/apps/com.zanvolt.Zanvolt.png
  file -b "$icon" | grep -q "PNG image data, $size x $size" ||
    { echo "icon $icon missing or not ${size}x$size"; exit 1; }
done
extra=$(find "$tree" -type f ! -path "$tree/usr/bin/zanvolt" ! -path "$tree/usr/share/*")
[ -z "$extra" ] || { echo "not part of the package: $extra"; exit 1; }
echo "package tree valid"
