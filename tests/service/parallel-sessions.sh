#!/usr/bin/env bash
# Two private sessions at once, each switching its agent's unit on and off 50 times: neither
# may stop the other's agent or bus. Bounded: each session gives up after 120 s.
set -euo pipefail

session_script=$(dirname "$0")/../../scripts/private-session.sh
rounds=50

# Inside one session: its agent is a sleeping stand-in, checked alive and in this session's
# own control group until this session stops it.
switch_on_and_off() { # name
  local unit=ru.quorvane.agent.service own_group
  own_group=$(sed -n 's/^0:://p' /proc/self/cgroup)
  own_group=${own_group%/init.scope}
  mkdir -p "$XDG_CONFIG_HOME/systemd/user"
  printf '[Service]\nExecStart=/bin/sleep 600\n' >"$XDG_CONFIG_HOME/systemd/user/$unit"
  systemctl --user daemon-reload
  touch "$barrier/$1"
  until [[ -e $barrier/first && -e $barrier/second ]]; do sleep 0.05; done
  local round properties pid state
  for ((round = 1; round <= rounds; round++)); do
    systemctl --user start "$unit"
    sleep 0.05
    properties=$(systemctl --user show -p MainPID -p ActiveState "$unit")
    pid=$(sed -n 's/^MainPID=//p' <<<"$properties")
    state=$(sed -n 's/^ActiveState=//p' <<<"$properties")
    [[ $state == active ]] && kill -0 "$pid" ||
      { echo "$1: round $round: the agent was stopped from outside" >&2; return 1; }
    grep -qx "0::$own_group/app.slice/$unit" "/proc/$pid/cgroup" ||
      { echo "$1: round $round: the agent is in $(cat "/proc/$pid/cgroup")" >&2; return 1; }
    # A lost bus fails this call too.
    systemctl --user stop "$unit" ||
      { echo "$1: round $round: the agent could not be stopped" >&2; return 1; }
  done
  echo "$1: $rounds rounds"
}

if [[ ${1:-} == --inside ]]; then
  rounds=$3 barrier=$4
  switch_on_and_off "$2"
  exit
fi

barrier=$(mktemp -d /tmp/quorvane-parallel.XXXXXX)
trap 'rm -rf "$barrier"' EXIT
pids=()
for name in first second; do
  timeout 120 "$session_script" -- "$BASH" "$0" --inside "$name" "$rounds" "$barrier" &
  pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do
  wait "$pid" || failed=$((failed + 1))
done
echo "$((2 - failed)) passed, $failed failed"
((failed == 0))
