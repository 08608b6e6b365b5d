#!/usr/bin/env bash
# The token store, the token-output mode and the authorising read against the session's Secret
# Service provider ($QUORVANE_SECRET_PROVIDER): one table of cases for every provider. Runs
# inside `scripts/private-session.sh --display --provider NAME`. While an operation that may not
# prompt runs, the bus is watched for an Unlock or a Prompt and the screen for a new window.
set -uo pipefail

probe=${QUORVANE_PREFIX:?}/tests/keychain-probe
panel=$QUORVANE_PREFIX/bin/quorvane
provider=${QUORVANE_SECRET_PROVIDER:?}
password=${QUORVANE_SESSION_PASSWORD:?}
attributes=(service ru.quorvane.agent account device-token)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

check() { # case, expected, actual
  if [[ $2 == "$3" ]]; then
    printf 'PASS  %-46s %s\n' "$1" "$3"
  else
    printf 'FAIL  %-46s expected "%s", got "%s"\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}

wait_for() { # seconds, command...
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || return 1
    sleep 0.05
  done
}

secrets() { busctl --user call org.freedesktop.secrets "$@"; }
default_collection() {
  secrets /org/freedesktop/secrets org.freedesktop.Secret.Service ReadAlias s default | cut -d'"' -f2
}
is_open() {
  [[ $(secrets "$(default_collection)" org.freedesktop.DBus.Properties Get ss \
    org.freedesktop.Secret.Collection Locked) == "v b false" ]]
}
is_locked() { ! is_open; }
provider_pid() {
  busctl --user call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus \
    GetConnectionUnixProcessID s org.freedesktop.secrets | cut -d' ' -f2
}

lock() {
  if [[ $provider == kwallet ]]; then
    # kwalletd's Secret Service Lock leaves the wallet open; the user's lock closes it.
    busctl --user call org.kde.kwalletd5 /modules/kwalletd5 org.kde.KWallet close sb kdewallet true >/dev/null
  else
    # KeePassXC locks through a prompt of its own, which shows nothing for a lock.
    local prompt
    prompt=$(secrets /org/freedesktop/secrets org.freedesktop.Secret.Service Lock ao 1 \
      "$(default_collection)" | awk '{ print $NF }' | tr -d '"')
    if [[ $prompt != / ]]; then
      secrets "$prompt" org.freedesktop.Secret.Prompt Prompt s "" >/dev/null
    fi
    wait_for 10 is_locked
  fi
}

windows() { xdotool search --onlyvisible --name '' 2>/dev/null | sort; }

# The first window that is not in the list given, within 15 s.
new_window() {
  local deadline=$((SECONDS + 15)) id
  while ((SECONDS < deadline)); do
    id=$(comm -13 <(printf '%s\n' "$1") <(windows) | head -n 1)
    [[ -n $id ]] && echo "$id" && return 0
    sleep 0.1
  done
  return 1
}

# Runs the command while watching the bus and the screen; prints its output, then what it
# caused: "no prompt" or "prompt", "no window" or "window".
watched() {
  local log=$scratch/bus.log before output caused
  before=$(windows)
  dbus-monitor --session "type='method_call',interface='org.freedesktop.Secret.Prompt'" \
    "type='method_call',interface='org.freedesktop.Secret.Service',member='Unlock'" \
    "type='method_call',member='QuorvaneSentinel'" >"$log" 2>&1 &
  local monitor=$!
  wait_for 5 grep -q NameAcquired "$log"
  output=$("$@" 2>&1)
  # Messages reach the monitor in the order the bus got them: the sentinel comes last.
  busctl --user call org.freedesktop.DBus / org.freedesktop.DBus QuorvaneSentinel >/dev/null 2>&1
  wait_for 5 grep -q QuorvaneSentinel "$log"
  kill "$monitor"
  wait "$monitor" 2>/dev/null
  caused=$(grep -Eq 'member=(Prompt|Unlock)' "$log" && echo prompt || echo no prompt)
  [[ -n $(comm -13 <(printf '%s\n' "$before") <(windows)) ]] && caused+=", window" || caused+=", no window"
  echo "$output | $caused"
}

token_mode() {
  local output
  output=$("$panel" --read-agent-token)
  echo "'$output' exit $?"
}

# The authorising read, with the provider's dialog answered by typing the password or dismissed.
authorize_answering() {
  local before window
  before=$(windows)
  "$probe" authorize >"$scratch/authorize.out" 2>&1 &
  local reader=$!
  if window=$(new_window "$before"); then
    xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
    if [[ $1 == password ]]; then
      xdotool type --delay 15 "$password"
      xdotool key Return
    else
      xdotool key Escape
    fi
  fi
  wait "$reader"
  cat "$scratch/authorize.out"
}

restart_keepassxc() { # ConfirmAccessItem, UnlockBeforeSearch
  local pid
  pid=$(provider_pid)
  kill "$pid"
  wait_for 10 bash -c "! kill -0 $pid"
  sed -i -e "s/^ConfirmAccessItem=.*/ConfirmAccessItem=$1/" \
    -e "s/^UnlockBeforeSearch=.*/UnlockBeforeSearch=$2/" "$XDG_CONFIG_HOME/keepassxc/keepassxc.ini"
  printf '%s\n' "$password" | keepassxc --pw-stdin "$HOME/passwords.kdbx" >/dev/null 2>&1 &
  wait_for 15 is_open
}

if [[ ${QUORVANE_KWALLET_WALLET:-} == none ]]; then
  check "save with no wallet" "status -25294 - | no prompt, no window" "$(watched "$probe" save tok)"
  exit $((failures > 0))
fi

echo "provider: $provider"
if [[ $provider == kwallet ]]; then
  # As after a login: the wallet is open, kwalletd reports its collection locked.
  check "wallet open, reported locked (login)" "locked" "$(is_open && echo open || echo locked)"
  check "no item, read" "none | prompt, no window" "$(watched "$probe" read)"
else
  check "no item, read" "none | no prompt, no window" "$(watched "$probe" read)"
fi
check "no item, token mode" "'' exit 0" "$(token_mode)"

printf %s tok-secret-tool | secret-tool store --label=test "${attributes[@]}"
check "stored by secret-tool, read" "token tok-secret-tool | no prompt, no window" "$(watched "$probe" read)"
check "stored by secret-tool, token mode" "'tok-secret-tool' exit 0" "$(token_mode)"

secret-tool clear "${attributes[@]}"
check "stored by the panel, save" "saved" "$("$probe" save tok-panel)"
check "stored by the panel, secret-tool" "tok-panel" "$(secret-tool lookup "${attributes[@]}")"

check "replaced, save" "saved" "$("$probe" save tok-replaced)"
check "replaced, secret-tool" "tok-replaced" "$(secret-tool lookup "${attributes[@]}")"
check "replaced, one item" "1" "$(secret-tool search --all "${attributes[@]}" 2>&1 | grep -c '^\[/')"

lock
check "locked, read" "status -25308 - | no prompt, no window" "$(watched "$probe" read)"
check "locked, token mode" "'' exit 1" "$(token_mode)"
check "locked, save" "status -25308 - | no prompt, no window" "$(watched "$probe" save tok-other)"
check "locked, UI allowed and answered" "token tok-replaced" "$(authorize_answering password)"
lock
check "locked, UI allowed and dismissed" "status -128 -" "$(authorize_answering dismiss)"
check "dismissed, still locked" "locked" "$(is_open && echo open || echo locked)"

if [[ $provider == keepassxc ]]; then
  restart_keepassxc false true
  lock
  check "unlock before search on, locked, read" "status -25308 - | no prompt, no window" \
    "$(watched "$probe" read)"
  restart_keepassxc true false
  check "per-client confirmation, read" "status -25308 confirm | no prompt, no window" \
    "$(watched "$probe" read)"
  check "per-client confirmation, token mode" "'' exit 1" "$(token_mode)"
  check "per-client confirmation, save" "status -25308 confirm | no prompt, no window" \
    "$(watched "$probe" save tok-other)"
fi

((failures == 0)) && echo "all cases passed ($provider)" || echo "$failures case(s) failed ($provider)"
exit $((failures > 0))
