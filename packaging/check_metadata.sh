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
# The file-manager actions are key files of their own formats, which
# desktop-file-validate does not know: check their syntax and the keys each
# file manager needs.
# has_keys FILE GROUP KEY=VALUE…: FILE is a well-formed key file whose GROUP
# holds each KEY with exactly VALUE.
has_keys() {
  file=$1 group=$2
  shift 2
  [ -f "$file" ] || { echo "$file missing"; exit 1; }
  bad=$(grep -nvE '^(#.*|\[[^]]+\]|[A-Za-z0-9-]+(\[[A-Za-z_@.]+\])?=.*|)$' "$file" || true)
  [ -z "$bad" ] || { echo "$file: malformed line $bad"; exit 1; }
  for pair in "$@"; do
    awk -v group="[$group]" -v pair="$pair" '
      /^\[/ { inside = ($0 == group) }
      inside && $0 == pair { found = 1 }
      END { exit !found }' "$file" || { echo "$file: no $pair in $group"; exit 1; }
  done
}
menu=$tree/usr/share/kio/servicemenus/com.zanvolt.Zanvolt.send.desktop
has_keys "$menu" "Desktop Entry" "Type=Service" "MimeType=all/all;" "Actions=sendWithZanvolt;" \
  "X-KDE-ServiceTypes=KonqPopupMenu/Plugin"
has_keys "$menu" "Desktop Action sendWithZanvolt" "Name=Mit Zanvolt senden" "Exec=zanvolt %F"
[ -x "$menu" ] || { echo "$menu is not executable, Dolphin ignores it"; exit 1; }
has_keys "$tree/usr/share/nemo/actions/com.zanvolt.Zanvolt.send.nemo_action" "Nemo Action" \
  "Name=Mit Zanvolt senden" "Exec=zanvolt %F" "Selection=notnone" "Extensions=any;" "Active=true"
has_keys "$tree/usr/share/file-manager/actions/com.zanvolt.Zanvolt.send.desktop" "Desktop Entry" \
  "Type=Action" "Name=Mit Zanvolt senden" "Profiles=send;"
has_keys "$tree/usr/share/file-manager/actions/com.zanvolt.Zanvolt.send.desktop" "X-Action-Profile send" \
  "Exec=zanvolt %F" "MimeTypes=all/all;" "SelectionCount=>0"

extra=$(find "$tree" -type f ! -path "$tree/usr/bin/zanvolt" ! -path "$tree/usr/share/*")
[ -z "$extra" ] || { echo "not part of the package: $extra"; exit 1; }
echo "package tree valid"
