#!/usr/bin/env bash
# Times `quorvane --read-agent-token` against `secret-tool lookup` for the same item, run
# alternately inside a private desktop session with the given Secret Service provider
# (gnome-keyring, kwallet or keepassxc), and measures the panel's peak memory in that mode.
# Goal: at most 1.5 times secret-tool's median time and under 30 MB peak RSS.
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

awk -v provider="$provider" -v rounds="$rounds" -v p="$panel_median" -v t="$tool_median" -v pr="$panel_rss" -v tr="$tool_rss" 'BEGIN {
  printf "provider                         %s\n", provider
  printf "rounds (alternating)             %d\n", rounds
  printf "quorvane --read-agent-token      median %.2f ms, peak RSS %.1f MB\n", p / 1000, pr / 1024
  printf "secret-tool lookup               median %.2f ms, peak RSS %.1f MB\n", t / 1000, tr / 1024
  printf "time ratio quorvane/secret-tool  %.2f (goal <= 1.5)\n", p / t
  printf "quorvane peak RSS goal           < 30 MB: %s\n", (pr < 30 * 1024) ? "met" : "MISSED"
}'
