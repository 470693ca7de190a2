#!/usr/bin/env bash
# Builds Zanvolt and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZANVOLT_BUILD_DIR:-$root/build}
"$root/scripts/bootstrap.sh"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target zanvolt
exec "$build/src/zanvolt" "$@"
