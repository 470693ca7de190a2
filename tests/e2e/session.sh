# Sourced first by the checks of the real client. in_private_session NAME SCRIPT ARGS… runs SCRIPT
# again under Xvfb and a private D-Bus session, with HOME and the XDG folders in a fresh scratch
# folder that is removed afterwards; it returns only in that inner run, with $scratch set.
in_private_session() {
  if [ -n "${ZANVOLT_E2E_INNER:-}" ]; then
    scratch=$ZANVOLT_E2E_SCRATCH
    return 0
  fi
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  # Each check looks for a free display from a number of its own: the display the check before
  # it just closed may still answer for a moment, and then vanish under this one's programs.
  local first_display=$((100 + $(printf '%s' "$1" | cksum | cut -d' ' -f1) % 400))
  shift
  trap 'rm -rf "$scratch"' EXIT
  mkdir -p "$scratch/home" "$scratch/run" "$scratch/server" "$scratch/files"
  chmod 700 "$scratch/run"
  export ZANVOLT_E2E_INNER=1 ZANVOLT_E2E_SCRATCH="$scratch"
  export HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run"
  export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
  export LC_ALL=C.UTF-8
  unset DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM WAYLAND_DISPLAY DISPLAY
  # Not exec: the trap must still remove the scratch folder.
  # No key auto-repeat: on a busy machine a synthetic key held a little long would repeat.
  xvfb-run -a -n "$first_display" -s "-screen 0 1280x800x24 -ardelay 60000" dbus-run-session -- "$@"
  exit $?
}
