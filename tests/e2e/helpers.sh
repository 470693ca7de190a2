# Shared by the checks of the real client: the processes they start, failing
# with their logs, polling, and the session bus. Needs $scratch.
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for log in "$scratch"/*.log; do
    echo "--- $(basename "$log")" >&2
    tail -n 20 "$log" >&2
  done
  exit 1
}
# wait_for SECONDS COMMAND…: polls until COMMAND succeeds.
wait_for() {
  local tries=$(($1 * 10))
  shift
  for _ in $(seq "$tries"); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
has_bus_name() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    "string:$1" | grep -q 'boolean true'
}
# On a loaded machine the X server may not take connections yet when xvfb-run starts the
# script; the desktop's programs would then fail to open the display.
wait_for 30 xprop -root || fail "the X server did not answer"

# The unlocked keyring, a notification service (dunst, its calls logged in notifications.log) and
# a window manager (openbox).
start_desktop() {
  printf zanvolt-e2e | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
    >"$scratch/notifications.log" 2>&1 &
  pids+=($!)
  dunst >"$scratch/dunst.log" 2>&1 &
  pids+=($!)
  openbox --sm-disable >"$scratch/openbox.log" 2>&1 &
  pids+=($!)
  wait_for 20 sh -c "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'" || fail "openbox did not start"
  wait_for 10 has_bus_name org.freedesktop.Notifications || fail "dunst did not start"
}

# The bundled server ($devserver) on a free port; its URL and key ($url, $key) stored as the
# client's credentials.
start_server() {
  "$devserver" --port 0 --data "$scratch/server" >"$scratch/server.log" 2>&1 &
  pids+=($!)
  wait_for 10 grep -q '^API-Key: ' "$scratch/server.log" || fail "the bundled server did not start"
  url=$(sed -n 's/^Zanvolt-Testserver läuft: //p' "$scratch/server.log")
  key=$(sed -n 's/^API-Key: //p' "$scratch/server.log")
  printf '{"serverURL":"%s","apiKey":"%s"}' "$url" "$key" |
    secret-tool store --label=Zanvolt service com.zanvolt.Zanvolt account credentials
}
