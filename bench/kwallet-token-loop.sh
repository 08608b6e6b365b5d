#!/usr/bin/env bash
# Runs `quorvane --read-agent-token` many times against kwalletd (whose session key exchange
# fails now and then) and counts the runs that did not print the stored token. Goal: none.
#
#   bench/kwallet-token-loop.sh [PREFIX] [RUNS]   (PREFIX defaults to build/ci, RUNS to 1000)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(realpath "${1:-$root/build/ci}")
runs=${2:-1000}

if [[ -z ${QUORVANE_BENCH_SESSION:-} ]]; then
  exec env QUORVANE_BENCH_SESSION=1 "$root/scripts/private-session.sh" --provider kwallet -- \
    "$0" "$prefix" "$runs"
fi

token=qv1.kwallet-loop-token-0123456789abcdef
printf %s "$token" | secret-tool store --label=loop service ru.quorvane.agent account device-token
failures=0
for ((i = 0; i < runs; i++)); do
  if ! output=$("$prefix/bin/quorvane" --read-agent-token) || [[ $output != "$token" ]]; then
    failures=$((failures + 1))
  fi
done
echo "kwallet: $runs token-mode runs, $failures failed"
((failures == 0))
