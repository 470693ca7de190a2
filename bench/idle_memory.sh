#!/usr/bin/env bash
# Idle memory and start time of the tray client beside a bare Qt tray application, in the same
# run: both under Xvfb with a window manager and a tray host (trayer), in a private D-Bus session
# with gnome-keyring, the client configured for the bundled server.
#
# Start: from launching the program until its icon window sits in the tray host, each program
# started alone, alternately, ROUNDS times. Memory: VmRSS (and its anonymous part) of one
# instance of each, SECONDS after its start, read from /proc; CPU at rest: user + system time
# over the second half of that wait, per minute.
#
# Usage: bench/idle_memory.sh ZANVOLT BARE_TRAY DEVSERVER [SECONDS [ROUNDS]]
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/../tests/e2e/session.sh"
in_private_session zanvolt-idle "$0" "$@"

zanvolt=$(realpath "$1")
bare=$(realpath "$2")
devserver=$(realpath "$3")
settle=${4:-60}
rounds=${5:-5}
source "$here/../tests/e2e/helpers.sh"

start_desktop
trayer --edge top --align right --widthtype request --height 24 --expand false >"$scratch/trayer.log" 2>&1 &
pids+=($!)
wait_for 10 xwininfo -name panel || fail "trayer did not start"
start_server

in_tray() { xwininfo -tree -name panel 2>/dev/null | grep -q "(\"$1\" "; }
# launch PROGRAM NAME: starts PROGRAM, waits for its icon in the tray; sets $started (pid) and
# $millis (launch to icon).
launch() {
  local begin end
  begin=$(date +%s%N)
  "$1" >"$scratch/$2.log" 2>&1 &
  started=$!
  pids+=($started)
  until in_tray "$2"; do
    kill -0 "$started" 2>/dev/null || fail "$2 exited"
    (($(date +%s%N) - begin < 30000000000)) || fail "no $2 icon in the tray after 30 s"
  done
  end=$(date +%s%N)
  millis=$(((end - begin) / 1000000))
}
stop() {
  kill "$1"
  wait "$1" 2>/dev/null || true
  wait_for 5 sh -c "! xwininfo -tree -name panel | grep -q '(\"$2\" '" || true
}
field() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

declare -A times
for round in $(seq "$rounds"); do
  for name in bare_tray zanvolt; do
    program=$bare
    [ "$name" = zanvolt ] && program=$zanvolt
    launch "$program" "$name"
    times[$name]+=" $millis"
    stop "$started" "$name"
  done
done
median() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
for name in bare_tray zanvolt; do
  echo "start to icon in the tray, $name: median $(median "${times[$name]}") ms (rounds:${times[$name]} ms)"
done

# Memory and CPU at rest: one of each, side by side.
launch "$bare" bare_tray
bare_pid=$started
launch "$zanvolt" zanvolt
client_pid=$started
sleep $((settle / 2))
bare_ticks=$(ticks "$bare_pid")
client_ticks=$(ticks "$client_pid")
sleep $((settle - settle / 2))
hz=$(getconf CLK_TCK)
for name in bare_tray zanvolt; do
  pid=$bare_pid
  before=$bare_ticks
  [ "$name" = zanvolt ] && pid=$client_pid && before=$client_ticks
  rss=$(field "$pid" VmRSS)
  anon=$(field "$pid" RssAnon)
  file=$(field "$pid" RssFile)
  threads=$(field "$pid" Threads)
  cpu=$(awk -v t="$(($(ticks "$pid") - before))" -v hz="$hz" -v s="$((settle - settle / 2))" \
    'BEGIN { printf "%.3f", t / hz * 60 / s }')
  printf '%s after %d s: VmRSS %.1f MiB (anonymous %.1f, files %.1f), %d threads, CPU at rest %s s per minute\n' \
    "$name" "$settle" "$(bc -l <<<"$rss / 1024")" "$(bc -l <<<"$anon / 1024")" "$(bc -l <<<"$file / 1024")" \
    "$threads" "$cpu"
  [ -n "${ZANVOLT_IDLE_SMAPS:-}" ] && cp "/proc/$pid/smaps" "$ZANVOLT_IDLE_SMAPS.$name"
done
