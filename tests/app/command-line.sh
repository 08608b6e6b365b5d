#!/usr/bin/env bash
# bin/quorvane's own modes, without a display or a session bus: what each prints where and its
# exit status; and that the executable links no Qt (the token mode's start-up time).
set -uo pipefail

program=${QUORVANE_PREFIX:?}/bin/quorvane
failures=0

check() { # case, expected, actual
  [[ $2 == "$3" ]] && printf 'PASS  %-28s\n' "$1" && return
  printf 'FAIL  %-28s expected "%s", got "%s"\n' "$1" "$2" "$3"
  failures=$((failures + 1))
}

# Standard output's first line, standard error, exit status.
run() {
  local err out status
  err=$(mktemp)
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent \
    "$program" "$@" 2>"$err")
  status=$?
  echo "${out%%$'\n'*}|$(cat "$err")|exit $status"
  rm -f "$err"
}

check "--help" "Usage: quorvane [--read-agent-token | --help | --version]||exit 0" "$(run --help)"
check "--version" "quorvane ${QUORVANE_VERSION:?}||exit 0" "$(run --version)"
check "--help, output fails" "exit 1" "$("$program" --help >/dev/full 2>&1; echo "exit $?")"
check "links no Qt" "0" "$(ldd "$program" | grep -c libQt6)"

exit $((failures > 0))
