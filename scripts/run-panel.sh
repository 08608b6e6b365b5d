#!/usr/bin/env bash
# Installs what the panel needs, builds the panel alone (no tests, no benchmarks) in build/panel
# and runs it. Without a desktop session (no display or no session bus) the panel runs in a
# private session on a virtual display, which nobody sees: a screenshot of that display, taken
# when the window is up and renewed while it runs, shows it.
set -euo pipefail
cd "$(dirname "$0")/.."

screenshot_interval=3

# Inside the private session: the panel in the background, the screen saved beside it.
if [[ ${1:-} == --on-virtual-display ]]; then
  screenshot=$2 panel=$3
  shift 3
  echo "The window is on the virtual display $DISPLAY (Xvfb, inside the private session)." >&2
  echo "Its screenshot, renewed every ${screenshot_interval} s: $screenshot" >&2
  "$panel" "$@" &
  panel_pid=$!
  while kill -0 "$panel_pid" 2>/dev/null; do
    sleep "$screenshot_interval"
    xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$screenshot.part" 2>/dev/null &&
      mv "$screenshot.part" "$screenshot"
  done
  wait "$panel_pid"
  exit
fi

scripts/setup-debian.sh panel
cmake --preset panel
cmake --build --preset panel
panel=$PWD/build/panel/bin/quorvane
if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} && -n ${DBUS_SESSION_BUS_ADDRESS:-} ]]; then
  exec "$panel" "$@"
fi
echo "No desktop session here: running the panel in a private session on a virtual display." >&2
exec scripts/private-session.sh --display -- "$PWD/scripts/run-panel.sh" --on-virtual-display \
  "$PWD/build/panel/panel-screenshot.png" "$panel" "$@"
