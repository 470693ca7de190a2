#!/usr/bin/env bash
# Builds Zanvolt and runs every test headless: inside a private D-Bus session
# with an unlocked gnome-keyring, with HOME pointed at a fresh temporary folder.
# Exit code: CTest's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZANVOLT_BUILD_DIR:-$root/build}

"$root/scripts/bootstrap.sh"

# The number texts are also checked under a German locale, which a fresh system lacks.
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # Paths relative to the checkout, so another clone of the same sources hits the cache.
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
fi
# Assertions on, optimisation and debug info off: the tests are built often and
# debug info is most of the compile time of these Qt-heavy sources. Set
# ZANVOLT_DEBUG_FLAGS="-O0 -g" for a build to debug in.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="${ZANVOLT_DEBUG_FLAGS:--O0}" "${launcher[@]}" >/dev/null
# ZANVOLT_BUILD_TARGETS builds only the named targets (the mutation check builds the tests it runs).
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" ${ZANVOLT_BUILD_TARGETS:+--target $ZANVOLT_BUILD_TARGETS}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zanvolt-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home" "$scratch/run"
chmod 700 "$scratch/run"
export HOME="$scratch/home"
export XDG_RUNTIME_DIR="$scratch/run"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
export QT_QPA_PLATFORM=offscreen
export ZANVOLT_SOURCE_DIR="$root"
unset DBUS_SESSION_BUS_ADDRESS

# The keyring is created on first unlock with a throw-away password.
dbus-run-session -- bash -c '
  printf zanvolt-test | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  exec ctest --test-dir "$1" --output-on-failure -j"$(nproc)" "${@:2}"
' _ "$build" "$@"
