#!/usr/bin/env bash
# Builds the Debian package of the tray client (Release, without tests and
# benchmarks). Prints the path of the .deb; install it with
#   sudo apt-get install ./build-package/zanvolt_<version>_<arch>.deb
# Set ZANVOLT_PACKAGE_BUILD_DIR to build elsewhere; extra arguments go to CMake
# (e.g. -DZANVOLT_DEFAULT_SERVER_URL=https://transfer.example.org).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZANVOLT_PACKAGE_BUILD_DIR:-$root/build-package}

"$root/scripts/bootstrap.sh"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZANVOLT_BUILD_TESTS=OFF -DZANVOLT_BUILD_BENCH=OFF "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" --target zanvolt -j"$(nproc)"
rm -f "$build"/zanvolt_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls -1 "$build"/zanvolt_*.deb
