#!/usr/bin/env bash
# Times `quorvane --read-agent-token` against `secret-tool lookup` for the same item, run
# alternately inside a private desktop session with the given Secret Service provider
# (gnome-keyring, kwallet or keepassxc); measures the peak memory of both and counts the D-Bus
# calls of one read of each. Goal: at most secret-tool's median time, peak RSS and calls.
#
#   bench/read-agent-token.sh [PREFIX] [ROUNDS] [PROVIDER]   (build/ci, 200, gnome-keyring)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(realpath "${1:-$root/build/ci}")
rounds=${2:-200}
provider=${3:-gnome-keyring}

if [[ -z ${QUORVANE_BENCH_SESSION:-} ]]; then
  exec env QUORVANE_BENCH_SESSION=1 "$root/scripts/private-session.sh" --provider "$provider" -- \
    "$0" "$prefix" "$rounds" "$provider"
fi

panel=$prefix/bin/quorvane
attributes=(service ru.quorvane.agent account device-token)
token=qv1.benchmark-device-token-0123456789abcdef
printf %s "$token" | secret-tool store --label=bench "${attributes[@]}"
[[ $("$panel" --read-agent-token) == "$token" ]] || { echo "the panel did not print the token" >&2; exit 1; }

microseconds() { # command... ; prints its wall time
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  local end=$EPOCHREALTIME
  echo $(((${end/./} - ${start/./})))
}

# The calls the command makes on the bus, in all and to the store: "ALL STORE".
bus_calls() { # command...
  local log
  log=$(mktemp)
  dbus-monitor --session "type='method_call'" >"$log" 2>&1 &
  local monitor=$!
  until grep -q NameAcquired "$log"; do sleep 0.05; done
  "$@" >/dev/null
  # Messages reach the monitor in the order the bus got them: the sentinel comes last.
  busctl --user call org.freedesktop.DBus / org.freedesktop.DBus QuorvaneSentinel >/dev/null 2>&1 || true
  until grep -q QuorvaneSentinel "$log"; do sleep 0.05; done
  kill "$monitor"
  wait "$monitor" 2>/dev/null || true
  local sender
  sender=$(grep -m1 'member=Hello' "$log" | grep -o 'sender=[^ ]*')
  grep "^method call.* $sender " "$log" >"$log.own"
  echo "$(wc -l <"$log.own") $(grep -vc 'destination=org.freedesktop.DBus ' "$log.own")"
  rm -f "$log" "$log.own"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

panel_times=() tool_times=()
for ((i = 0; i < rounds + 10; i++)); do # the first ten rounds warm the caches
  p=$(microseconds "$panel" --read-agent-token)
  t=$(microseconds secret-tool lookup "${attributes[@]}")
  if ((i >= 10)); then
    panel_times+=("$p") tool_times+=("$t")
  fi
done

panel_median=$(printf '%s\n' "${panel_times[@]}" | median)
tool_median=$(printf '%s\n' "${tool_times[@]}" | median)
panel_rss=$(/usr/bin/time -f %M "$panel" --read-agent-token 2>&1 >/dev/null)
tool_rss=$(/usr/bin/time -f %M secret-tool lookup "${attributes[@]}" 2>&1 >/dev/null)
read -r panel_calls panel_store_calls < <(bus_calls "$panel" --read-agent-token)
read -r tool_calls tool_store_calls < <(bus_calls secret-tool lookup "${attributes[@]}")

awk -v provider="$provider" -v rounds="$rounds" -v p="$panel_median" -v t="$tool_median" \
  -v pr="$panel_rss" -v tr="$tool_rss" -v pc="$panel_calls" -v ps="$panel_store_calls" \
  -v tc="$tool_calls" -v ts="$tool_store_calls" 'BEGIN {
  printf "provider                         %s\n", provider
  printf "rounds (alternating)             %d\n", rounds
  printf "quorvane --read-agent-token      median %.2f ms, peak RSS %.1f MB, %d bus calls (%d to the store)\n", p / 1000, pr / 1024, pc, ps
  printf "secret-tool lookup               median %.2f ms, peak RSS %.1f MB, %d bus calls (%d to the store)\n", t / 1000, tr / 1024, tc, ts
  printf "time ratio quorvane/secret-tool  %.2f (goal <= 1.0)\n", p / t
  printf "peak RSS ratio                   %.2f (goal <= 1.0)\n", pr / tr
  printf "bus calls                        %s\n", (pc <= tc) ? "no more than secret-tool" : "MORE than secret-tool"
}'
