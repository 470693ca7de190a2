#!/usr/bin/env bash
# Installs every Debian package Zanvolt needs to build, run and test.
# Idempotent: quiet when everything is there; runs apt-get update only when
# something is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config ccache clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-qpa-plugins libqt6svg6 libxcb1-dev
  qcoro-qt6-dev libsecret-1-dev libssl-dev libcurl4-openssl-dev libcpp-httplib-dev
  zip unzip curl locales nginx
  dbus dbus-x11 gnome-keyring libsecret-tools
  qt6-tools-dev qt6-l10n-tools
  xvfb xclip x11-utils x11-apps netpbm qt6-translations-l10n
  appstream desktop-file-utils dpkg-dev file
  trayer dunst xdotool openbox at-spi2-core python3-pyatspi
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
