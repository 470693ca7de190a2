#!/usr/bin/env bash
# Installs the Debian package into a fresh minimal Debian 12 (debootstrap, needs
# root and the Debian mirror), starts zanvolt there under Xvfb and saves a
# screenshot. Usage: scripts/check-clean-install.sh [PACKAGE.deb] — without an
# argument it builds the package first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=${1:-}
[ -n "$deb" ] || deb=$("$root/scripts/package.sh" | tail -n1)
command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null

target=$(mktemp -d "${TMPDIR:-/tmp}/zanvolt-clean.XXXXXX")
trap 'umount "$target/proc" 2>/dev/null || true; rm -rf "$target"' EXIT
echo "Debian 12 (minbase) into $target…"
debootstrap --variant=minbase bookworm "$target" http://deb.debian.org/debian >/dev/null
cp "$deb" "$target/tmp/zanvolt.deb"
cp /etc/resolv.conf "$target/etc/"
mount -t proc proc "$target/proc"
chroot "$target" bash -c '
  set -e
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/zanvolt.deb >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb xauth x11-apps >/dev/null
  export HOME=/root XDG_RUNTIME_DIR=/tmp/run
  mkdir -m 700 -p "$XDG_RUNTIME_DIR"
  xvfb-run -a -s "-screen 0 1024x700x24" bash -c "
    zanvolt & sleep 5
    kill -0 \$! || exit 1
    xwd -root -silent >/tmp/shot.xwd
    kill \$!"
'
xwdtopnm "$target/tmp/shot.xwd" 2>/dev/null | pnmtopng >"$root/build-package/clean-install.png"
echo "zanvolt started from the package; screenshot: build-package/clean-install.png"
