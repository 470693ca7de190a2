#!/usr/bin/env bash
# End-to-end check of the real client: zanvolt under Xvfb with a window
# manager (openbox) and a tray host (trayer), a private D-Bus session with gnome-keyring and a notification
# service (dunst), and the bundled server. Files are handed over as
# `zanvolt FILE…`; everything is then checked from outside the process.
#
# Usage: end_to_end.sh ZANVOLT DEVSERVER [SCREENSHOT.png]
set -euo pipefail

source "$(dirname "$(realpath "$0")")/session.sh"
in_private_session zanvolt-e2e "$0" "$@"

zanvolt=$(realpath "$1")
devserver=$(realpath "$2")
screenshot=${3:+$(realpath "$3")}
source "$(dirname "$(realpath "$0")")/helpers.sh"

# The desktop around the client.
start_desktop
trayer --edge top --align right --widthtype request --height 24 --expand false >"$scratch/trayer.log" 2>&1 &
pids+=($!)
# The accessibility bus, so the panel can be driven as a screen reader drives it.
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$scratch/atspi.log" 2>&1 &
pids+=($!)
wait_for 10 has_bus_name org.a11y.Bus || fail "the accessibility bus did not start"
wait_for 10 xwininfo -name panel || fail "trayer did not start"

# The bundled server on a free port, and its URL and key as the client's credentials.
start_server

# Two files and a folder: the client packs them into one archive.
files=$scratch/files
printf 'Prüfbericht – Seite 1\n' >"$files/Prüfbericht Ä.txt"
head -c 6000000 /dev/urandom >"$files/messung.bin" # more than one chunk
mkdir -p "$files/Anhänge/tief"
printf 'unten\n' >"$files/Anhänge/tief/notiz.txt"
today=$(date +%d-%m-%Y)
cd "$files"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$zanvolt" "Prüfbericht Ä.txt" messung.bin Anhänge >"$scratch/zanvolt.log" 2>&1 &
pids+=($!)
client=$!

history=$HOME/.zanvolt/history.json
uploaded() { kill -0 "$client" || return 2; grep -q '"downloadURL"' "$history"; }
wait_for 60 uploaded || fail "no upload reached the history"
link=$(grep -m1 -oE '"downloadURL": "[^"]+"' "$history" | cut -d'"' -f4)
code=$(grep -m1 -oE '"code": "[^"]+"' "$history" | cut -d'"' -f4)
echo "uploaded: $link"

# The server stored the archive with every item, byte for byte.
stored=("$scratch/server/transfers/$code"/*)
[ ${#stored[@]} -eq 1 ] && [ -f "${stored[0]}" ] || fail "the server holds no single file for $code"
archive=$(basename "${stored[0]}")
[ "$archive" = "Prüfbericht Ä_$today.zip" ] || fail "archive named $archive"
listing=$(unzip -Z1 "${stored[0]}" | sort | tr '\n' '|')
[ "$listing" = "Anhänge/|Anhänge/tief/|Anhänge/tief/notiz.txt|Prüfbericht Ä.txt|messung.bin|" ] ||
  fail "archive lists $listing"
unzip -p "${stored[0]}" messung.bin | cmp - "$files/messung.bin" || fail "messung.bin differs"
unzip -p "${stored[0]}" "Prüfbericht Ä.txt" | cmp - "$files/Prüfbericht Ä.txt" || fail "Prüfbericht differs"

# The history: the transfer, its original names, no password, no key.
grep -q '"originalFileNames": \[' "$history" || fail "history lacks originalFileNames"
grep -q '"hasPassword": false' "$history" || fail "history lacks hasPassword"
[ "$(stat -c %a "$history")" = 600 ] || fail "history.json is not private"

# The link on the X clipboard, and the notification.
wait_for 5 sh -c "[ \"\$(xclip -o -selection clipboard)\" = '$link' ]" ||
  fail "clipboard holds '$(xclip -o -selection clipboard 2>&1)'"
wait_for 5 grep -q 'string "Upload abgeschlossen"' "$scratch/notifications.log" || fail "no notification"
grep -q 'string "Link kopiert – bereit zum Teilen"' "$scratch/notifications.log" ||
  fail "notification body differs"

# Secrets and files: the key lives only in the keyring (encrypted), the
# temporary archive is gone, the private folders are private.
leaks=$(grep -rlF -- "$key" "$HOME" "$XDG_RUNTIME_DIR" 2>/dev/null || true)
[ -z "$leaks" ] || fail "API key found in $leaks"
private=${XDG_CACHE_HOME:-$HOME/.cache}/zanvolt
[ -z "$(ls -A "$private")" ] || fail "temporary folder holds: $(ls -A "$private")"
[ "$(stat -c %a "$private")" = 700 ] || fail "temporary folder is not private"
[ "$(stat -c %A "$XDG_RUNTIME_DIR/com.zanvolt.Zanvolt.socket")" = srwx------ ] ||
  fail "the instance socket is not private"

# The tray icon sits in the tray host; a click on it opens the panel.
kill -0 "$client" || fail "the client exited"
tray=$(xwininfo -name panel | sed -n 's/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p')
icon=$(xwininfo -tree -id "$tray" | grep '("zanvolt" "Zanvolt")') || fail "no Zanvolt icon in the tray"
read -r w h x y < <(sed -E 's/.* ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\1 \2 \3 \4/' <<<"$icon")
xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
panel_window() { xdotool search --onlyvisible --name '^Zanvolt$' | while read -r id; do
  xwininfo -id "$id" | awk -v id="$id" '/Width:/ { w = $2 } END { if (w >= 320) print id }'
done | head -n1; }
wait_for 5 sh -c "[ -n \"\$($(declare -f panel_window); panel_window)\" ]" || fail "a click on the tray icon opened no panel"
panel=$(panel_window)
dunstctl close-all 2>/dev/null || true # the notification would cover the panel in the picture
sleep 0.5 # let the panel paint before it is photographed
if [ -n "$screenshot" ]; then
  xwd -silent -id "$panel" | xwdtopnm 2>/dev/null | pnmtopng >"$screenshot"
  [ -s "$screenshot" ] || fail "no screenshot written"
  echo "panel screenshot: $screenshot ($(file -b "$screenshot"))"
fi

# A screen reader's view: the tabs are page tabs whose action switches the page, a row's buttons
# are actions of its item (the transfer is deleted through one).
/usr/bin/python3 "$(dirname "$(realpath "$0")")/atspi_tabs.py" "$scratch/server/transfers/$code" \
  >"$scratch/atspi-tabs.log" 2>&1 ||
  fail "AT-SPI: $(tail -n 1 "$scratch/atspi-tabs.log")"
cat "$scratch/atspi-tabs.log"

# Escape hides the panel again; quitting leaves the client's process alone until then.
xdotool key --window "$panel" Escape
wait_for 5 sh -c "! xwininfo -id $panel | grep -q IsViewable" || fail "Escape did not hide the panel"
kill -0 "$client" || fail "the client exited"

# A press in another window may start a drag towards the panel: the panel stays while the button
# is held and hides once it is released elsewhere.
xmessage -geometry 300x200+100+400 -name elsewhere "elsewhere" >"$scratch/xmessage.log" 2>&1 &
pids+=($!)
wait_for 5 xwininfo -name elsewhere || fail "xmessage did not start"
sleep 0.5 # the window just mapped takes the focus; the panel must open after that
xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
wait_for 5 sh -c "xwininfo -id $panel | grep -q IsViewable" || fail "a second click opened no panel"
xdotool windowactivate --sync "$panel" 2>/dev/null || true
wait_for 5 sh -c "[ \"\$(xdotool getactivewindow)\" = $panel ]" || fail "the panel did not become active"
sleep 0.3
xwininfo -id "$panel" | grep -q IsViewable || fail "the panel hid before the press elsewhere"
xdotool mousemove 200 500 mousedown 1
sleep 1
xwininfo -id "$panel" | grep -q IsViewable || fail "the panel hid while a button was held elsewhere"
xdotool mouseup 1
wait_for 5 sh -c "! xwininfo -id $panel | grep -q IsViewable" || fail "the panel stayed after a click elsewhere"
echo "end-to-end check passed"
