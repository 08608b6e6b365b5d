#!/usr/bin/env bash
# The panel's window, native on Wayland, on a compositor without a seat (weston's headless
# backend, as on a build server): it must start and be drawn on the compositor's output. Drawn
# means the output's screenshot differs from the empty desktop's over most of the window's area.
set -euo pipefail
prefix=${QUORVANE_PREFIX:?}
socket=quorvane-test-$$
# The window is about 840 by 730 pixels: most of it, not a cursor or the shell's clock.
drawn_pixels=300000

scratch=$(mktemp -d)
trap 'kill "${panel_pid:-}" "${weston_pid:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$scratch"' EXIT
export XDG_RUNTIME_DIR=$scratch/run HOME=$scratch/home
export XDG_CONFIG_HOME=$HOME/.config XDG_STATE_HOME=$HOME/.local/state XDG_DATA_HOME=$HOME/.local/share
mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$HOME"
# Nothing of the machine's own session: no bus, no X display.
unset DISPLAY DBUS_SESSION_BUS_ADDRESS XDG_SESSION_TYPE QT_QPA_PLATFORMTHEME || true

wait_for() { # seconds, command...
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) && sleep 0.2 || return 1; done
}

# The screenshooter is reachable only with weston's debug protocol.
weston --backend=headless-backend.so --use-pixman --socket="$socket" --width=1280 --height=1024 \
  --idle-time=0 --debug >"$scratch/weston.log" 2>&1 &
weston_pid=$!
export WAYLAND_DISPLAY=$socket
wait_for 30 test -S "$XDG_RUNTIME_DIR/$socket" || { cat "$scratch/weston.log"; exit 1; }

shot=0
screenshot() { # file
  local folder=$scratch/shot-$((shot += 1))
  mkdir "$folder"
  (cd "$folder" && weston-screenshooter) && mv "$folder"/*.png "$1"
}
differing_pixels() { compare -metric AE "$1" "$2" null: 2>&1 || true; }
window_drawn() {
  screenshot "$scratch/now.png" &&
    (($(differing_pixels "$scratch/desktop.png" "$scratch/now.png") > drawn_pixels))
}

# The shell draws its background and panel first.
sleep 2
screenshot "$scratch/desktop.png"
QT_QPA_PLATFORM=wayland "$prefix/bin/quorvane" >"$scratch/panel.log" 2>&1 &
panel_pid=$!
if ! wait_for 60 window_drawn; then
  kill -0 "$panel_pid" 2>/dev/null && echo "the window was not drawn" || echo "the panel ended"
  cat "$scratch/panel.log"
  exit 1
fi
kill -0 "$panel_pid"
echo "drawn: $(differing_pixels "$scratch/desktop.png" "$scratch/now.png") pixels differ from the empty desktop"
