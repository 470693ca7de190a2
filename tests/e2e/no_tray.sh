#!/usr/bin/env bash
# The real client on a desktop without a tray host and without a clipboard
# manager: under Xvfb with a window manager, a private D-Bus session with
# gnome-keyring and a notification service, and the bundled server. It says
# once that there is no tray, shows its panel, opens it again when started
# again, and still uploads and copies the link.
#
# Usage: no_tray.sh ZANVOLT DEVSERVER
set -euo pipefail

source "$(dirname "$(realpath "$0")")/session.sh"
in_private_session zanvolt-notray "$0" "$@"

zanvolt=$(realpath "$1")
devserver=$(realpath "$2")
source "$(dirname "$(realpath "$0")")/helpers.sh"
panel_visible() { xdotool search --onlyvisible --name '^Zanvolt$' | grep -q .; }

start_desktop
[ -z "$(xclip -o -selection clipboard 2>/dev/null)" ] || fail "something owns the clipboard"

start_server

# No tray host: told once, and the panel shows at once.
"$zanvolt" >"$scratch/zanvolt.log" 2>&1 &
pids+=($!)
client=$!
said='string "Kein Infobereich gefunden. Starte „zanvolt“ erneut, um das Panel zu öffnen."'
wait_for 20 grep -qF "$said" "$scratch/notifications.log" || fail "no notification about the missing tray"
wait_for 10 panel_visible || fail "no panel at start"
panel=$(xdotool search --onlyvisible --name '^Zanvolt$' | head -n1)
xdotool windowactivate --sync "$panel" 2>/dev/null || true
xdotool key --window "$panel" Escape
wait_for 5 sh -c "! xdotool search --onlyvisible --name '^Zanvolt\$' | grep -q ." || fail "Escape did not hide the panel"

# Started again: the running client opens its panel; the second process ends.
timeout 20 "$zanvolt" >"$scratch/second.log" 2>&1 || fail "the second start failed"
wait_for 10 panel_visible || fail "the second start opened no panel"
kill -0 "$client" || fail "the client exited"

# A file handed over: uploaded, and the link on the clipboard that nothing else keeps.
printf 'ohne Infobereich\n' >"$scratch/notiz.txt"
timeout 20 "$zanvolt" "$scratch/notiz.txt" >>"$scratch/second.log" 2>&1 || fail "the hand-over failed"
history=$HOME/.zanvolt/history.json
wait_for 30 grep -q '"downloadURL"' "$history" || fail "no upload reached the history"
link=$(grep -m1 -oE '"downloadURL": "[^"]+"' "$history" | cut -d'"' -f4)
wait_for 5 sh -c "[ \"\$(xclip -o -selection clipboard)\" = '$link' ]" ||
  fail "clipboard holds '$(xclip -o -selection clipboard 2>&1)'"
wait_for 5 grep -q 'string "Upload abgeschlossen"' "$scratch/notifications.log" || fail "no notification of the upload"
[ "$(grep -cF "$said" "$scratch/notifications.log")" = 1 ] || fail "the missing tray was said more than once"
kill -0 "$client" || fail "the client exited"
echo "no-tray check passed"
