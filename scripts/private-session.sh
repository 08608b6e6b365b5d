#!/usr/bin/env bash
# Runs a command inside a private desktop session: its own mount and PID namespaces,
# a `systemd --user` manager with its session bus, an unlocked gnome-keyring default
# collection, a temporary $HOME and $XDG_RUNTIME_DIR and, with --display, an Xvfb screen.
# Everything started here dies with the PID namespace when the command ends.
#
#   scripts/private-session.sh [--display] [--] COMMAND [ARG...]
#
# The exit status is the command's; 125 means the session could not be set up.
set -euo pipefail

fail() {
  echo "private-session: $*" >&2
  exit 125
}

wait_until() { # seconds, description, command...
  local limit=$1 what=$2
  shift 2
  local deadline=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || fail "$what did not answer within ${limit}s"
    sleep 0.05
  done
}

inside_namespace() {
  local with_display=$1
  shift
  mount -t tmpfs tmpfs /run/systemd 2>/dev/null || fail "cannot mount a private /run/systemd"
  mkdir -p /run/systemd/system # lets `systemd --user` start without a system manager

  scratch=$(mktemp -d /tmp/quorvane-session.XXXXXX)
  trap 'rm -rf "$scratch"' EXIT
  export HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/run
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$HOME" "$XDG_RUNTIME_DIR"
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
  export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
  unset DISPLAY WAYLAND_DISPLAY XAUTHORITY GNOME_KEYRING_CONTROL SSH_AUTH_SOCK || true

  /lib/systemd/systemd --user >"$scratch/systemd.log" 2>&1 &
  wait_until 15 "systemd --user" busctl --user status org.freedesktop.systemd1

  printf 'quorvane-session' | gnome-keyring-daemon --unlock --components=secrets >"$scratch/keyring.env" 2>"$scratch/keyring.log" ||
    fail "gnome-keyring-daemon did not start: $(cat "$scratch/keyring.log")"
  wait_until 10 "the Secret Service" busctl --user call org.freedesktop.secrets \
    /org/freedesktop/secrets/aliases/default org.freedesktop.DBus.Properties Get ss \
    org.freedesktop.Secret.Collection Locked

  if [[ $with_display == 1 ]]; then
    exec {display_pipe}<> <(:)
    Xvfb -displayfd "$display_pipe" -screen 0 1280x1024x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
    local number
    read -r -t 15 number <&"$display_pipe" || fail "Xvfb did not start: $(cat "$scratch/xvfb.log")"
    export DISPLAY=:$number
    wait_until 10 "Xvfb" xdpyinfo
  fi

  set +e
  "$@"
  local status=$?
  set -e
  return "$status"
}

main() {
  local with_display=0
  while (($#)); do
    case $1 in
    --display) with_display=1 ;;
    --) shift; break ;;
    *) break ;;
    esac
    shift
  done
  (($#)) || fail "usage: private-session.sh [--display] [--] COMMAND [ARG...]"

  local tool
  for tool in unshare busctl gnome-keyring-daemon dbus-daemon; do
    command -v "$tool" >/dev/null || fail "$tool is missing; run scripts/setup-debian.sh"
  done
  [[ -x /lib/systemd/systemd ]] || fail "/lib/systemd/systemd is missing; run scripts/setup-debian.sh"
  if [[ $with_display == 1 ]]; then
    for tool in Xvfb xdpyinfo; do
      command -v "$tool" >/dev/null || fail "$tool is missing; run scripts/setup-debian.sh"
    done
  fi

  local runner=()
  if ((EUID != 0)); then
    command -v sudo >/dev/null || fail "a private session needs root (or sudo) for its namespaces"
    runner=(sudo --preserve-env)
  fi
  exec "${runner[@]}" unshare --mount --pid --fork --kill-child --mount-proc \
    "$BASH" "${BASH_SOURCE[0]}" --inside "$with_display" "$@"
}

if [[ ${1:-} == --inside ]]; then
  shift
  inside_namespace "$@"
else
  main "$@"
fi
