#!/usr/bin/env bash
# Installs what is missing, builds and runs the panel. Without a desktop session (no
# display or no session bus) the panel runs in a private session on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
cmake --preset default
cmake --build --preset default
panel=build/default/bin/quorvane
if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} && -n ${DBUS_SESSION_BUS_ADDRESS:-} ]]; then
  exec "$panel" "$@"
fi
echo "No desktop session here: running the panel in a private session on a virtual display." >&2
exec scripts/private-session.sh --display -- "$panel" "$@"
