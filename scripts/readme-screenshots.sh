#!/usr/bin/env bash
# The README's screenshots, docs/main-window.png and docs/settings-sheet.png, from the real panel
# and agent of a build (default build/panel) in a private session on a virtual display: a
# stored token, two folders under /srv (a tmpfs of the session's own, so the paths are real and
# not temporary), the agent switched on, the log open; then the settings sheet.
#   scripts/readme-screenshots.sh [BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ ${1:-} != --inside ]]; then
  build=$(realpath "${1:-build/panel}")
  exec scripts/private-session.sh --display -- "$PWD/scripts/readme-screenshots.sh" --inside \
    "$build" "$PWD/docs"
fi
build=$2 docs=$3

mount -t tmpfs tmpfs /srv
mkdir -p /srv/Проекты /srv/Фото
configuration=$XDG_CONFIG_HOME/quorvane
mkdir -p -m 700 "$configuration"
cat >"$configuration/quorvane-agent.conf" <<'CONF'
workspace.3f2a6c1e-8b1d-4c55-9a0e-2b7f4d9c1a10 = /srv/Проекты
workspace.3f2a6c1e-8b1d-4c55-9a0e-2b7f4d9c1a10.write = true
workspace.9b0c7d2e-1f3a-4e6b-8c5d-7a9e0b1c2d3f = /srv/Фото
CONF
printf 'qv_agent_%s' "$(head -c 32 /dev/urandom | base64 | tr -d '/+=' | head -c 43)" |
  secret-tool store --label 'Quorvane device token' service ru.quorvane.agent account device-token

"$build/bin/quorvane" &
panel=$!
trap 'kill $panel 2>/dev/null || true' EXIT
window=
for _ in $(seq 100); do
  window=$(xdotool search --name '^Quorvane Agent$' 2>/dev/null | head -1) && [[ -n $window ]] && break
  sleep 0.2
done
[[ -n $window ]] || { echo "the window did not open" >&2; exit 1; }

shoot() { # file; lets the state settle and the glow finish first
  sleep 4
  xwd -id "$window" -silent | xwdtopnm 2>/dev/null | pnmtopng >"$1"
  echo "$1"
}
click() { # x, y in the window
  xdotool mousemove --window "$window" "$1" "$2" click 1
}

sleep 3
click 154 281 # the power button, in the window as it opens
sleep 6
click 170 574 # the log's header; the window then takes its content's height
shoot "$docs/main-window.png"
click 708 414 # "Настроить"
shoot "$docs/settings-sheet.png"
