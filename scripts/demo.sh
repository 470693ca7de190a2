#!/usr/bin/env bash
# Builds Zanvolt and the bundled transfer server, starts the server with its
# own data folder, stores its URL and key as the client's credentials (only
# when none are stored) and starts the tray client.
#
# Without a graphical session (no DISPLAY or WAYLAND_DISPLAY) it provides
# what is missing (Xvfb, a private D-Bus session with gnome-keyring), hands a
# sample file to the client, waits for the upload, prints the link, saves a
# screenshot of the panel and exits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZANVOLT_BUILD_DIR:-$root/build}
port=${ZANVOLT_DEMO_PORT:-8443}
data=${ZANVOLT_DEMO_DATA:-${XDG_DATA_HOME:-$HOME/.local/share}/zanvolt-demo}

if [ -z "${ZANVOLT_DEMO_INNER:-}" ]; then
  "$root/scripts/bootstrap.sh"
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${launcher[@]}" >/dev/null
  cmake --build "$build" -j"$(nproc)" --target zanvolt zanvolt-devserver
  if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No graphical session: running the demo headless (Xvfb, private D-Bus, gnome-keyring)."
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/zanvolt-demo.XXXXXX")
    mkdir -m 700 "$scratch/run"
    export XDG_RUNTIME_DIR="$scratch/run" ZANVOLT_DEMO_INNER=headless ZANVOLT_DEMO_SCRATCH="$scratch"
    unset DBUS_SESSION_BUS_ADDRESS
    exec xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- "$0" "$@"
  fi
  export ZANVOLT_DEMO_INNER=desktop
fi

cleanup() { [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null || true; }
trap cleanup EXIT

if [ "$ZANVOLT_DEMO_INNER" = headless ]; then
  printf zanvolt-demo | gnome-keyring-daemon --unlock --components=secrets >/dev/null
fi

mkdir -p "$data"
log="$data/server.log"
"$build/devserver/zanvolt-devserver" --port "$port" --data "$data" >"$log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  grep -q '^API-Key: ' "$log" 2>/dev/null && break
  sleep 0.1
done
url=$(sed -n 's/^Zanvolt-Testserver läuft: //p' "$log")
key=$(sed -n 's/^API-Key: //p' "$log")
if [ -z "$url" ] || [ -z "$key" ]; then
  echo "The bundled server did not start:" >&2
  cat "$log" >&2
  exit 1
fi
echo "Bundled server: $url"
echo "API key:        $key"

if secret-tool lookup service com.zanvolt.Zanvolt account credentials >/dev/null 2>&1; then
  echo "Credentials are already stored; leaving them as they are."
else
  printf '{"serverURL":"%s","apiKey":"%s"}' "$url" "$key" |
    secret-tool store --label="Zanvolt" service com.zanvolt.Zanvolt account credentials
  echo "Stored these as Zanvolt's credentials."
fi

if [ "$ZANVOLT_DEMO_INNER" = desktop ]; then
  echo "Starting Zanvolt: click its tray icon, or run \"$build/src/zanvolt FILE…\" to send files."
  "$build/src/zanvolt" "$@"
  exit $?
fi

# Headless: send a sample file and show the result.
sample="$ZANVOLT_DEMO_SCRATCH/Zanvolt-Beispiel.txt"
echo "Hallo aus Zanvolt – $(date)" >"$sample"
"$build/src/zanvolt" "$sample" &
client_pid=$!
history="$HOME/.zanvolt/history.json"
link=""
for _ in $(seq 300); do
  link=$(grep -m1 -oE '"downloadURL": "[^"]+"' "$history" 2>/dev/null | cut -d'"' -f4 || true)
  [ -n "$link" ] && [ -n "$(grep -o Zanvolt-Beispiel "$history" || true)" ] && break
  sleep 0.2
done
if [ -z "$link" ]; then
  echo "The upload did not finish." >&2
  kill "$client_pid" 2>/dev/null || true
  exit 1
fi
echo "Uploaded: $link"
"$build/src/zanvolt" # a second start without files shows the running client's panel
sleep 2
shot="$build/demo-panel.png"
xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$shot"
echo "Screenshot of the panel: $shot"
kill "$client_pid" 2>/dev/null || true
wait "$client_pid" 2>/dev/null || true
