#!/usr/bin/env bash
# Renders the main window in its typical states (stopped, starting, running, needs
# configuration, requires approval, log open, switching) and the settings sheet in its own (no
# token, token saved, access needed, replacing, a refused and a saved folder), each at the
# window's own size, into screenshots/*.png, on a virtual display in a private session. The
# window runs the real QML over a view model with test doubles, so no agent or keyring state of
# this machine is touched.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
cmake --preset default
cmake --build --preset default --target quorvane-screenshots
exec scripts/private-session.sh --display -- build/default/tools/screenshots/quorvane-screenshots "$PWD/screenshots"
