#!/bin/bash
# Each layer includes only the ones below it:
#   models < net < platform < services < transfers < cli, views < app
# (platform/linux, the desktop's own services, sits beside views and is used by app only).
# Prints every include that reaches upwards and fails if there is one.
set -u
cd "$(dirname "$0")/../src"
declare -A above=(
  [models]="net platform services transfers cli views app"
  [net]="platform services transfers cli views app"
  [platform]="services transfers cli views app"
  [services]="transfers cli views app"
  [transfers]="cli views app"
  [cli]="views app platform/linux"
  [views]="cli app platform/linux"
  [platform/linux]="services transfers cli views app"
)
status=0
for layer in "${!above[@]}"; do
  pattern=$(printf '%s\\|' ${above[$layer]})
  files=$(find "$layer" -maxdepth 1 \( -name '*.h' -o -name '*.cpp' \))
  # shellcheck disable=SC2086
  if grep -Hn "^#include \"\(${pattern%\\|}\)/" $files; then
    echo "↑ $layer includes a layer above it" >&2
    status=1
  fi
done
exit $status
