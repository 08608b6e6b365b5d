#!/usr/bin/env bash
# The token store, the panel's token-output mode, the authorising read and (gnome-keyring) the
# agent's wait for the unlock: one table of cases for every Secret Service provider, run inside
# `scripts/private-session.sh --display --provider NAME`. While an operation that may not prompt
# runs, the bus is watched for an Unlock or a Prompt and the screen for a new window. Waits are
# long for a loaded machine; they end as soon as their condition holds.
set -uo pipefail

probe=${QUORVANE_PREFIX:?}/tests/keychain-probe
quorvane=$QUORVANE_PREFIX/bin/quorvane
provider=${QUORVANE_SECRET_PROVIDER:?}
attributes=(service ru.quorvane.agent account device-token)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

check() { # case, expected, actual
  [[ $2 == "$3" ]] && printf 'PASS  %-46s %s\n' "$1" "$3" && return
  printf 'FAIL  %-46s expected "%s", got "%s"\n' "$1" "$2" "$3"
  failures=$((failures + 1))
}

wait_for() { # seconds, command...
  local deadline=$((SECONDS + $1))
  until "${@:2}" >/dev/null 2>&1; do ((SECONDS < deadline)) && sleep 0.05 || return 1; done
}

bus_driver() { busctl --user call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus "$@"; }
secrets() { busctl --user call org.freedesktop.secrets "$@"; }
secret_service() { secrets /org/freedesktop/secrets org.freedesktop.Secret.Service "$@"; }
default_collection() { secret_service ReadAlias s default | cut -d'"' -f2; }
is_open() {
  [[ $(secrets "$(default_collection)" org.freedesktop.DBus.Properties Get ss \
    org.freedesktop.Secret.Collection Locked) == "v b false" ]]
}
is_locked() { ! is_open; }
provider_pid() { bus_driver GetConnectionUnixProcessID s org.freedesktop.secrets | cut -d' ' -f2; }

lock() {
  if [[ $provider == kwallet ]]; then
    # kwalletd's Secret Service Lock leaves the wallet open; the user's lock closes it.
    busctl --user call org.kde.kwalletd5 /modules/kwalletd5 org.kde.KWallet close sb kdewallet true >/dev/null
  else
    # KeePassXC locks through a prompt of its own, which shows nothing for a lock.
    local prompt
    prompt=$(secret_service Lock ao 1 "$(default_collection)" | awk '{ print $NF }' | tr -d '"')
    [[ $prompt == / ]] || secrets "$prompt" org.freedesktop.Secret.Prompt Prompt s "" >/dev/null
  fi
  wait_for 30 is_locked || check "lock" "locked" "open"
}

windows() { xdotool search --onlyvisible --name '' 2>/dev/null | sort; }
new_windows() { comm -13 <(printf '%s\n' "$1") <(windows); }
export -f windows new_windows

# Runs the command while watching the bus and the screen; prints its output, then what it
# caused: "no prompt" or "prompt", "no window" or "window".
watched() {
  local log=$scratch/bus.log before output caused
  before=$(windows)
  dbus-monitor --session "type='method_call',interface='org.freedesktop.Secret.Prompt'" \
    "type='method_call',interface='org.freedesktop.Secret.Service',member='Unlock'" \
    "type='method_call',member='QuorvaneSentinel'" >"$log" 2>&1 &
  local monitor=$!
  wait_for 60 grep -q NameAcquired "$log" || echo "the bus monitor did not start"
  output=$("$@" 2>&1)
  # Messages reach the monitor in the order the bus got them: the sentinel comes last.
  bus_driver QuorvaneSentinel >/dev/null 2>&1
  wait_for 60 grep -q QuorvaneSentinel "$log" || echo "the bus monitor fell behind"
  kill "$monitor" && wait "$monitor" 2>/dev/null
  caused=$(grep -Eq 'member=(Prompt|Unlock)' "$log" && echo prompt || echo no prompt)
  [[ -n $(new_windows "$before") ]] && caused+=", window" || caused+=", no window"
  echo "$output | $caused"
}
quiet() { check "$1" "$2 | no prompt, no window" "$(watched "$probe" "${@:3}")"; } # case, output, probe arguments

# The token-output mode as the agent runs it: the exact bytes, without a display, not a word on
# standard error (it would reach the journal).
token_mode() { env -u DISPLAY -u WAYLAND_DISPLAY "$quorvane" --read-agent-token 2>&1; echo "| exit $?"; }

# The authorising read, with the provider's dialog given the text and then the key.
authorize_answering() { # text, key
  local before window
  before=$(windows)
  "$probe" authorize >"$scratch/authorize.out" 2>&1 &
  local reader=$!
  if wait_for 60 bash -c '[[ -n $(new_windows "$0") ]]' "$before"; then
    window=$(new_windows "$before" | head -n 1)
    xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
    [[ -z $1 ]] || xdotool type --delay 15 "$1"
    xdotool key "$2"
  fi
  wait "$reader"
  cat "$scratch/authorize.out"
}

restart_keepassxc() { # ConfirmAccessItem, UnlockBeforeSearch
  local pid
  pid=$(provider_pid) && kill "$pid" && wait_for 30 bash -c "! kill -0 $pid"
  sed -i -e "s/^ConfirmAccessItem=.*/ConfirmAccessItem=$1/" \
    -e "s/^UnlockBeforeSearch=.*/UnlockBeforeSearch=$2/" "$XDG_CONFIG_HOME/keepassxc/keepassxc.ini"
  printf '%s\n' "$QUORVANE_SESSION_PASSWORD" | keepassxc --pw-stdin "$HOME/passwords.kdbx" >/dev/null 2>&1 &
  wait_for 60 is_open
}

# The command's output with the given session bus, then 1 if it ended within the limit.
within() { # seconds, bus address, command...
  local limit=$1 start=${EPOCHREALTIME/./} output
  output=$(DBUS_SESSION_BUS_ADDRESS=$2 "${@:3}" 2>/dev/null)
  echo "$output | $(((${EPOCHREALTIME/./} - start) < limit * 1000000 ? 1 : 0))"
}

if [[ ${QUORVANE_KWALLET_WALLET:-} == none ]]; then
  quiet "save with no wallet" "status -25294 -" save tok
  exit $((failures > 0))
fi

# As after a login, kwalletd reports its open wallet locked: only there does a read unlock (no window).
unasked=$([[ $provider == kwallet ]] && echo prompt || echo no prompt)
check "no item, read" "none | $unasked, no window" "$(watched "$probe" read)"
check "no item, token mode" "| exit 0" "$(token_mode)"

printf %s tok-secret-tool | secret-tool store --label=test "${attributes[@]}"
quiet "stored by secret-tool, read" "token tok-secret-tool" read

# Added by the panel, then replaced; the bytes stay exactly as given.
secret-tool clear "${attributes[@]}"
for token in tok-panel "" "токен-🔑" $' tok en\t' tok-replaced; do
  check "saved and read: '$token'" "saved|token $token" "$("$probe" save "$token")|$("$probe" read)"
  [[ $provider != gnome-keyring ]] || check "saved, token mode: '$token'" "$token| exit 0" "$(token_mode)"
done
check "replaced, secret-tool, one item" "tok-replaced|1" "$(secret-tool lookup "${attributes[@]}")|$(
  secret-tool search --all "${attributes[@]}" 2>&1 | grep -c '^\[/')"

if [[ $provider == gnome-keyring ]]; then # the others change such bytes on the way
  printf '\xef\xbb\xbftok токен \n' | secret-tool store --label=test "${attributes[@]}"
  check "leading byte-order mark kept" "token "$'\uFEFF'"tok токен " "$("$probe" read)"
  check "trailing line break kept, token mode" $'\uFEFFtok токен \n| exit 0' "$(token_mode)"
  check "token mode, output fails" "exit 1" "$("$quorvane" --read-agent-token 2>&1 >/dev/full; echo "exit $?")"
  "$probe" save "$(head -c 100000 /dev/zero | tr '\0' x)" >/dev/null
  check "token larger than a pipe, token mode" "100000" "$("$quorvane" --read-agent-token | wc -c)"
  for secret in 'tok\xff' 'tok\xe2\x82' '\xed\xa0\x80'; do
    printf %b "$secret" | secret-tool store --label=test "${attributes[@]}"
    check "undecodable secret $secret" "status -26275 -|| exit 1 | 1" \
      "$("$probe" read)|$(within 2 "$DBUS_SESSION_BUS_ADDRESS" token_mode)"
  done
fi

# Some providers hide a locked collection's items: the authorising read unlocks it all the same.
secret-tool clear "${attributes[@]}"
lock
check "locked, no item, UI allowed and answered" "none" "$(authorize_answering "$QUORVANE_SESSION_PASSWORD" Return)"
"$probe" save tok-replaced >/dev/null

lock
if [[ $provider == gnome-keyring ]]; then
  # A login starts the agent before the keyring is unlocked: it asks the panel again and again.
  health=$scratch/state/quorvane/agent-health.json
  mkdir -p "$scratch/config/quorvane"
  echo "workspace.1c0e5a34-8f2b-4d6e-9a71-3b5c7d9e0f12=$scratch" >"$scratch/config/quorvane/quorvane-agent.conf"
  XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state \
    "$QUORVANE_PREFIX/libexec/quorvane/quorvane-agent" 2>/dev/null &
  agent=$!
  agent_status() { grep -o '"status":"[a-z_]*"' "$health" | cut -d'"' -f4; }
  check "locked, agent" "error" "$(wait_for 60 grep -q '"status":"error"' "$health"; agent_status)"
fi
quiet "locked, read" "status -25308 -" read
quiet "locked, read, only the store allows UI" "status -25308 -" store-allows-ui
quiet "locked, save" "status -25308 -" save tok-other
check "locked, UI allowed and answered" "token tok-replaced" "$(authorize_answering "$QUORVANE_SESSION_PASSWORD" Return)"
if [[ -n ${agent:-} ]]; then # the same agent process carries on; its retries are never far apart
  wait_for 10 grep -q '"status":"running"' "$health"
  check "unlocked, agent" "running, same process" "$(agent_status), $(kill -0 "$agent" && echo same process)"
  kill "$agent"
fi
lock
check "locked, UI allowed and dismissed" "status -128 -" "$(authorize_answering "" Escape)"

if [[ $provider == gnome-keyring ]]; then
  # Far below the store's own deadline: a failure this fast did not wait on a timeout.
  check "no session bus, read" "status -25291 - | 1" "$(within 2 unix:path=/nonexistent "$probe" read)"
  check "no session bus, save" "status -25291 - | 1" "$(within 2 unix:path=/nonexistent "$probe" save t)"
  check "locked, token mode, quickly" "| exit 1 | 1" "$(within 2 "$DBUS_SESSION_BUS_ADDRESS" token_mode)"
  # D-Bus's own reply timeout is 25 seconds; the store gives up on a frozen service after a few.
  frozen=$(provider_pid) && kill -STOP "$frozen"
  check "frozen service, read" "status -25291 - | 1" "$(within 10 "$DBUS_SESSION_BUS_ADDRESS" "$probe" read)"
  kill -CONT "$frozen"
fi

if [[ $provider == keepassxc ]]; then
  restart_keepassxc false true
  lock
  quiet "unlock before search on, locked, read" "status -25308 -" read
  restart_keepassxc true false
  quiet "per-client confirmation, read" "status -25308 confirm" read
  quiet "per-client confirmation, save" "status -25308 confirm" save tok-other
fi

((failures == 0)) && echo "all cases passed ($provider)" || echo "$failures case(s) failed ($provider)"
exit $((failures > 0))
