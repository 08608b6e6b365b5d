#!/usr/bin/env bash
# Time from process start to the first drawn frame, and peak memory (VmHWM) after 10 s of
# idling, of the panel beside syncthingtray (a Qt tray panel for a sync agent), both started
# the same way on one Xvfb screen in a fresh private session. Runs alternate between the two
# programs; medians are printed.
#
#   bench/startup.sh [RUNS]     (default 5 runs of each)
set -euo pipefail
cd "$(dirname "$0")/.."

inside() {
  local runs=$1 panel=$2 first_frame=$3
  local -A frames=() peaks=()
  local programs=(quorvane syncthingtray)
  local -A commands=([quorvane]="$panel" [syncthingtray]="syncthingtray --windowed")
  for ((run = 1; run <= runs; run++)); do
    for program in "${programs[@]}"; do
      local result pid milliseconds peak
      # shellcheck disable=SC2086 # the command is split on purpose
      result=$("$first_frame" ${commands[$program]} 2>/dev/null) || {
        echo "$program showed no frame: $result" >&2
        exit 1
      }
      read -r pid milliseconds <<<"$result"
      sleep 10
      peak=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
      kill -TERM "$pid"
      while [[ -e /proc/$pid && $(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) != Z ]]; do
        sleep 0.05
      done
      printf '%-14s run %d: first frame %7.1f ms, peak memory after 10 s %6.1f MB\n' \
        "$program" "$run" "$milliseconds" "$(bc -l <<<"$peak / 1024")"
      frames[$program]+="$milliseconds "
      peaks[$program]+="$peak "
    done
  done

  median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
  echo
  printf '%-14s %18s %24s\n' program "first frame (ms)" "peak memory at 10 s (MB)"
  local -A frame_median=() peak_median=()
  for program in "${programs[@]}"; do
    frame_median[$program]=$(median <<<"${frames[$program]}")
    peak_median[$program]=$(bc -l <<<"$(median <<<"${peaks[$program]}") / 1024")
    printf '%-14s %18.1f %24.1f\n' "$program" "${frame_median[$program]}" "${peak_median[$program]}"
  done
  printf '%-14s %18.2f %24.2f\n' "ratio" \
    "$(bc -l <<<"${frame_median[quorvane]} / ${frame_median[syncthingtray]}")" \
    "$(bc -l <<<"${peak_median[quorvane]} / ${peak_median[syncthingtray]}")"
}

if [[ ${1:-} == --inside ]]; then
  shift
  inside "$@"
  exit
fi

runs=${1:-5}
scripts/setup-debian.sh
# The bench's own needs: the program it compares with and the X Damage headers for its probe.
bench_packages=(syncthingtray libxdamage-dev bc)
missing=()
for package in "${bench_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=()
  ((EUID == 0)) || sudo=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake --preset default >/dev/null
cmake --build --preset default
mkdir -p build/bench
cc -O2 -Wall -Wextra -o build/bench/first-frame bench/first-frame.c -lX11 -lXdamage

exec scripts/private-session.sh --display -- "$BASH" "$PWD/bench/startup.sh" --inside "$runs" \
  "$PWD/build/default/bin/quorvane" "$PWD/build/bench/first-frame"
