#!/usr/bin/env bash
# Two private sessions at once, each switching its agent's unit on and off 50 times: neither
# may stop the other's agent or bus. Bounded: each session gives up after 120 s.
set -euo pipefail

# Inside one session: its agent is a sleeping stand-in, checked alive and in this session's
# own control group until this session stops it.
switch_on_and_off() { # name rounds barrier
  local unit=ru.quorvane.agent.service own_group round properties pid
  own_group=$(sed -n 's/^0:://p' /proc/self/cgroup)
  own_group=${own_group%/init.scope}
  mkdir -p "$XDG_CONFIG_HOME/systemd/user"
  printf '[Service]\nExecStart=/bin/sleep 600\n' >"$XDG_CONFIG_HOME/systemd/user/$unit"
  systemctl --user daemon-reload
  touch "$3/$1"
  until [[ -e $3/first && -e $3/second ]]; do sleep 0.05; done
  fail() { echo "$1: round $round: $2" >&2; return 1; }
  for ((round = 1; round <= $2; round++)); do
    systemctl --user start "$unit"
    sleep 0.05
    properties=$(systemctl --user show -p MainPID -p ActiveState "$unit")
    pid=$(sed -n 's/^MainPID=//p' <<<"$properties")
    grep -qx ActiveState=active <<<"$properties" && kill -0 "$pid" ||
      fail "$1" "the agent was stopped from outside" || return
    grep -qx "0::$own_group/app.slice/$unit" "/proc/$pid/cgroup" ||
      fail "$1" "the agent is in $(cat "/proc/$pid/cgroup")" || return
    # A lost bus fails this call too.
    systemctl --user stop "$unit" || fail "$1" "the agent could not be stopped" || return
  done
  echo "$1: $2 rounds"
}

if [[ ${1:-} == --inside ]]; then
  switch_on_and_off "$2" "$3" "$4"
  exit
fi

barrier=$(mktemp -d /tmp/quorvane-parallel.XXXXXX)
trap 'rm -rf "$barrier"' EXIT
pids=()
for name in first second; do
  timeout 120 "$(dirname "$0")/../../scripts/private-session.sh" -- \
    "$BASH" "$0" --inside "$name" 50 "$barrier" &
  pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=$((failed + 1)); done
echo "$((2 - failed)) passed, $failed failed"
((failed == 0))
