#!/usr/bin/env bash
# Runs a command inside a private desktop session: its own mount and PID namespaces,
# a control-group sub-tree of its own, a `systemd --user` manager with its session bus, a Secret
# Service with an unlocked default collection, a temporary $HOME and $XDG_RUNTIME_DIR and, with
# --display, an Xvfb screen. Everything started here dies with the PID namespace when the command
# ends, and the control groups are removed then.
#
#   scripts/private-session.sh [--display] [--provider NAME] [--user NAME] [--no-user-namespaces]
#                              [--] COMMAND [ARG...]
#
# With --user the session belongs to that user instead of root (a system user made for the
# purpose when missing), its home /home/NAME on a fresh tmpfs: what an unprivileged desktop
# user's `systemd --user` can and cannot do. With --no-user-namespaces the session's manager and
# all it starts cannot create user namespaces, as on a kernel that allows them to no
# unprivileged user ($QUORVANE_SESSION_USER_NAMESPACES is "none" then).
#
# The Secret Service provider is gnome-keyring (default), kwallet (kwalletd5 with a wallet
# opened the way PAM opens it at login) or keepassxc (KeePassXC with its Secret Service
# integration and an open database); the last two are desktop programs and bring a display.
# Their password is $QUORVANE_SESSION_PASSWORD; the provider's name is in
# $QUORVANE_SECRET_PROVIDER. With QUORVANE_KWALLET_WALLET=none kwalletd starts without a wallet.
# QUORVANE_KEEPASSXC_CONFIRM=true and QUORVANE_KEEPASSXC_UNLOCK_BEFORE_SEARCH=true switch on
# KeePassXC's per-client confirmation and its unlock inside a search.
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

session_password=quorvane-session

start_gnome_keyring() {
  printf %s "$session_password" | gnome-keyring-daemon --unlock --components=secrets >"$scratch/keyring.env" 2>"$scratch/keyring.log" ||
    fail "gnome-keyring-daemon did not start: $(cat "$scratch/keyring.log")"
}

# kwalletd5 takes the wallet key from pam_kwallet5 through a pipe and the session's environment
# through a socket (its --pam-login protocol); the key is derived like pam_kwallet5 does, so the
# same password typed into kwalletd's dialog opens the wallet again after it was closed.
kwallet_pam_login() {
  python3 - "$session_password" "$XDG_DATA_HOME/kwalletd/kdewallet.salt" "$scratch/kwallet-$1.sock" \
    >>"$scratch/kwalletd.log" 2>&1 <<'PAM' &
import hashlib, os, socket, subprocess, sys
password, salt_path, socket_path = sys.argv[1:]
if not os.path.exists(salt_path):
    with open(salt_path, "wb") as salt_file:
        salt_file.write(os.urandom(56))
with open(salt_path, "rb") as salt_file:
    salt = salt_file.read()
key = hashlib.pbkdf2_hmac("sha512", password.encode(), salt, 50000, 56)
hash_read, hash_write = os.pipe()
listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
listener.bind(socket_path)
listener.listen(1)
daemon = subprocess.Popen(
    ["kwalletd5", "--pam-login", str(hash_read), str(listener.fileno())],
    pass_fds=(hash_read, listener.fileno()), env=dict(os.environ, PAM_KWALLET5_LOGIN=socket_path))
os.close(hash_read)
os.write(hash_write, key)
os.close(hash_write)
client = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
client.connect(socket_path)
client.sendall("".join(f"{name}={os.environ[name]}\n" for name in
                       ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "HOME")
                       if name in os.environ).encode())
client.close()
sys.exit(daemon.wait())
PAM
}

# Never starting kwalletd: the bus would start one without the wallet's key.
kwallet_is_open() {
  [[ $(busctl --user --auto-start=no call org.kde.kwalletd5 /modules/kwalletd5 org.kde.KWallet isOpen s kdewallet) == "b true" ]]
}

# kwalletd5 takes the wallet key from pam_kwallet5 through a pipe and the session's environment
# through a socket (its --pam-login protocol); the key is derived as pam_kwallet5 derives it, so
# the same password typed into kwalletd's dialog opens the wallet again after it was closed.
# kwalletd shows a wallet to the Secret Service only when the wallet existed at its start, so
# the first login makes the wallet and the second is the one the session runs with.
start_kwallet() {
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME/kwalletd"
  cat >"$XDG_CONFIG_HOME/kwalletrc" <<'CONFIG'
[Wallet]
Enabled=true
First Use=false
Close When Idle=false
Use One Wallet=true

[org.freedesktop.secrets]
apiEnabled=true
CONFIG
  if [[ ${QUORVANE_KWALLET_WALLET:-} == none ]]; then
    kwalletd5 >"$scratch/kwalletd.log" 2>&1 &
    return
  fi
  kwallet_pam_login first
  wait_until 15 "kwalletd's first login" kwallet_is_open
  busctl --user call org.kde.kwalletd5 /modules/kwalletd5 org.kde.KWallet close sb kdewallet true >/dev/null
  local pid
  pid=$(busctl --user call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus \
    GetConnectionUnixProcessID s org.kde.kwalletd5 | cut -d' ' -f2)
  kill "$pid"
  wait_until 10 "kwalletd's exit" bash -c "! kill -0 $pid"
  kwallet_pam_login second
  wait_until 15 "kwalletd's login" kwallet_is_open
}

# A database exposed to the Secret Service made from a KeePass XML file: its root group is the
# exposed group, which the desktop program otherwise sets in a dialog.
start_keepassxc() {
  mkdir -p "$XDG_CONFIG_HOME/keepassxc"
  cat >"$XDG_CONFIG_HOME/keepassxc/keepassxc.ini" <<CONFIG
[General]
ConfigVersion=2
SingleInstance=false
AutoSaveAfterEveryChange=true
AutoSaveOnExit=true

[GUI]
CheckForUpdates=false
ApplicationTheme=classic

[FdoSecrets]
Enabled=true
ShowNotification=false
ConfirmDeleteItem=false
ConfirmAccessItem=${QUORVANE_KEEPASSXC_CONFIRM:-false}
UnlockBeforeSearch=${QUORVANE_KEEPASSXC_UNLOCK_BEFORE_SEARCH:-false}
CONFIG
  cat >"$scratch/database.xml" <<'XML'
<?xml version="1.0" encoding="utf-8" standalone="yes"?>
<KeePassFile>
  <Meta>
    <DatabaseName>quorvane</DatabaseName>
    <CustomData>
      <Item><Key>FDO_SECRETS_EXPOSED_GROUP</Key><Value>{00112233-4455-6677-8899-aabbccddeeff}</Value></Item>
    </CustomData>
  </Meta>
  <Root>
    <Group><UUID>ABEiM0RVZneImaq7zN3u/w==</UUID><Name>Passwords</Name></Group>
  </Root>
</KeePassFile>
XML
  printf '%s\n%s\n' "$session_password" "$session_password" |
    keepassxc-cli import -q -p -t 100 "$scratch/database.xml" "$HOME/passwords.kdbx" >"$scratch/keepassxc.log" 2>&1 ||
    fail "keepassxc-cli could not make the database: $(cat "$scratch/keepassxc.log")"
  # KeePassXC keeps its one-instance lock and socket in the temporary folder, which sessions
  # share: another session's KeePassXC would take this database and this one would exit.
  printf '%s\n' "$session_password" |
    TMPDIR=$scratch keepassxc --pw-stdin "$HOME/passwords.kdbx" >>"$scratch/keepassxc.log" 2>&1 &
}

# Never starting the provider: a call before it has taken the name would have the bus start a
# second one, which then writes the same keyring files.
default_collection_is_open() {
  [[ $(busctl --user --auto-start=no call org.freedesktop.secrets /org/freedesktop/secrets/aliases/default \
    org.freedesktop.DBus.Properties Get ss org.freedesktop.Secret.Collection Locked) == "v b false" ]]
}

# The desktop providers write into the home folder until they stop.
stop_provider() {
  local pid
  pid=$(busctl --user --auto-start=no call org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus GetConnectionUnixProcessID s org.freedesktop.secrets 2>/dev/null | cut -d' ' -f2)
  if [[ -n $pid ]] && kill "$pid" 2>/dev/null; then
    for _ in {1..200}; do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
  fi
}

# The document portal, which KeePassXC starts, mounts a file system in the runtime folder.
remove_scratch() {
  umount -l "$XDG_RUNTIME_DIR/doc" 2>/dev/null || true
  rm -rf "$scratch"
}

# Where the session's control groups go: both hierarchies of the hybrid layout (the named
# systemd one and the unified one), or the one of a pure cgroup v2 system.
control_group_roots() {
  if [[ $(stat -fc %T /sys/fs/cgroup) == cgroup2fs ]]; then
    echo /sys/fs/cgroup
    return
  fi
  local root
  for root in /sys/fs/cgroup/systemd /sys/fs/cgroup/unified; do
    [[ -e $root/cgroup.procs ]] && echo "$root"
  done
}

# A sub-tree of the session's own, entered before `systemd --user` starts, so that the units of
# two sessions (app.slice/ru.quorvane.agent.service, the bus's service) never share a control
# group; delegated to the session's user, whose manager cannot start without one it may write.
enter_control_group() { # name, owner
  local root
  while read -r root; do
    mkdir "$root/$1" || fail "cannot make the control group $root/$1"
    chown -R "$2" "$root/$1"
    echo $$ >"$root/$1/cgroup.procs" || fail "cannot enter the control group $root/$1"
  done < <(control_group_roots)
}

# Once every process of the session has ended; the kernel ends them with the PID namespace,
# shortly after the command.
remove_control_group() { # name
  local root dir
  while read -r root; do
    dir=$root/$1
    for _ in {1..200}; do
      [[ -d $dir ]] || break
      find "$dir" -depth -type d -exec rmdir {} + 2>/dev/null || sleep 0.05
    done
    [[ ! -d $dir ]] || echo "private-session: the control group $dir is still in use" >&2
  done < <(control_group_roots)
}

# Runs the command where creating a user namespace fails with EPERM, as it does on a kernel that
# refuses them to unprivileged users: a seccomp filter on unshare() and clone() with
# CLONE_NEWUSER (clone3() reports ENOSYS, so its callers fall back to clone()).
without_user_namespaces() {
  python3 - "$@" <<'FILTER'
import ctypes, os, struct, sys
def statement(code, k, jt=0, jf=0):
    return struct.pack("HBBI", code, jt, jf, k)
load, equal, test_bits, answer = 0x20, 0x15, 0x45, 0x06
allow, refuse, unknown = 0x7FFF0000, 0x00050000 | 1, 0x00050000 | 38
program = b"".join([
    statement(load, 4), statement(equal, 0xC000003E, 1, 0), statement(answer, allow),
    statement(load, 0), statement(equal, 435, 0, 1), statement(answer, unknown),
    statement(equal, 272, 1, 0), statement(equal, 56, 0, 3),
    statement(load, 16), statement(test_bits, 0x10000000, 0, 1), statement(answer, refuse),
    statement(answer, allow),
])
class Program(ctypes.Structure):
    _fields_ = [("length", ctypes.c_ushort), ("filter", ctypes.c_char_p)]
libc = ctypes.CDLL(None, use_errno=True)
if libc.prctl(38, 1, 0, 0, 0) or libc.prctl(22, 2, ctypes.byref(Program(len(program) // 8, program)), 0, 0):
    sys.exit("private-session: cannot install the seccomp filter: " + os.strerror(ctypes.get_errno()))
os.execvp(sys.argv[1], sys.argv[1:])
FILTER
}

# As root, in the new namespaces: the private mounts, the control groups and the scratch folder,
# then the session itself as its user.
inside_namespace() {
  local with_display=$1 provider=$2 user=$3 control_group=$4
  shift 4
  mount -t tmpfs tmpfs /run/systemd 2>/dev/null || fail "cannot mount a private /run/systemd"
  mkdir -p /run/systemd/system # lets `systemd --user` start without a system manager
  enter_control_group "$control_group" "${user:-root}"

  scratch=$(mktemp -d /tmp/quorvane-session.XXXXXX)
  export XDG_RUNTIME_DIR=$scratch/run
  trap remove_scratch EXIT
  if [[ -n $user ]]; then
    mount -t tmpfs -o mode=755 tmpfs /home || fail "cannot mount a private /home"
    export HOME=/home/$user
  else
    export HOME=$scratch/home
  fi
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$HOME" "$XDG_RUNTIME_DIR"
  chown -R "${user:-root}:" "$scratch" "$HOME"

  # Only the chosen provider may answer: the bus would otherwise start gnome-keyring for the
  # first caller of the Secret Service, before the provider has taken the name.
  if [[ $provider != gnome-keyring ]]; then
    local activation
    for activation in org.freedesktop.secrets org.gnome.keyring; do
      mount --bind /dev/null "/usr/share/dbus-1/services/$activation.service"
    done
  fi

  local as_user=()
  [[ -z $user ]] || as_user=(runuser -u "$user" -- env HOME="$HOME" USER="$user" LOGNAME="$user")
  set +e
  "${as_user[@]}" "$BASH" "${BASH_SOURCE[0]}" --session "$scratch" "$with_display" "$provider" "$@"
  local status=$?
  set -e
  return "$status"
}

# As the session's user: its manager, bus, screen and Secret Service, then the command.
session() {
  scratch=$1
  local with_display=$2 provider=$3
  shift 3
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
  export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
  unset DISPLAY WAYLAND_DISPLAY XAUTHORITY GNOME_KEYRING_CONTROL SSH_AUTH_SOCK || true
  trap stop_provider EXIT

  local manager=(/lib/systemd/systemd --user)
  [[ ${QUORVANE_SESSION_USER_NAMESPACES:-} != none ]] || manager=(without_user_namespaces "${manager[@]}")
  "${manager[@]}" >"$scratch/systemd.log" 2>&1 &
  wait_until 15 "systemd --user" busctl --user status org.freedesktop.systemd1

  if [[ $with_display == 1 ]]; then
    exec {display_pipe}<> <(:)
    Xvfb -displayfd "$display_pipe" -screen 0 1280x1024x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
    local number
    read -r -t 15 number <&"$display_pipe" || fail "Xvfb did not start: $(cat "$scratch/xvfb.log")"
    export DISPLAY=:$number
    wait_until 10 "Xvfb" xdpyinfo
    # Programs the bus starts (the keyring's prompter) draw on this screen too.
    busctl --user call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus \
      UpdateActivationEnvironment 'a{ss}' 1 DISPLAY "$DISPLAY"
    systemctl --user set-environment DISPLAY="$DISPLAY"
  fi

  export QUORVANE_SECRET_PROVIDER=$provider QUORVANE_SESSION_PASSWORD=$session_password
  "start_${provider//-/_}"
  case $provider in
  kwallet) wait_until 15 "the Secret Service" busctl --user status org.freedesktop.secrets ;;
  *) wait_until 15 "the Secret Service" default_collection_is_open ;;
  esac

  set +e
  "$@"
  local status=$?
  set -e
  return "$status"
}

main() {
  local with_display=0 provider=gnome-keyring user=
  while (($#)); do
    case $1 in
    --display) with_display=1 ;;
    --provider)
      provider=${2:-}
      shift
      ;;
    --user)
      user=${2:-}
      [[ $user =~ ^[a-z_][a-z0-9_-]*$ ]] || fail "--user needs a user name"
      shift
      ;;
    --no-user-namespaces) export QUORVANE_SESSION_USER_NAMESPACES=none ;;
    --) shift; break ;;
    *) break ;;
    esac
    shift
  done
  (($#)) || fail "usage: private-session.sh [--display] [--provider NAME] [--user NAME] [--no-user-namespaces] [--] COMMAND [ARG...]"

  local provider_tools
  case $provider in
  gnome-keyring) provider_tools=(gnome-keyring-daemon) ;;
  kwallet) provider_tools=(kwalletd5 python3) with_display=1 ;;
  keepassxc) provider_tools=(keepassxc keepassxc-cli) with_display=1 ;;
  *) fail "unknown provider '$provider' (gnome-keyring, kwallet or keepassxc)" ;;
  esac
  local tool
  [[ ${QUORVANE_SESSION_USER_NAMESPACES:-} != none ]] || provider_tools+=(python3)
  for tool in unshare runuser busctl dbus-daemon "${provider_tools[@]}"; do
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
  if [[ -n $user ]] && ! id -u "$user" >/dev/null 2>&1; then
    "${runner[@]}" useradd --system --no-create-home --home-dir "/home/$user" \
      --shell /usr/sbin/nologin "$user" || fail "cannot make the user $user"
  fi

  # Named after this process, which is unique on the machine while the session lasts.
  local control_group=quorvane-session-$$ status=0
  "${runner[@]}" unshare --mount --pid --fork --kill-child --mount-proc \
    "$BASH" "${BASH_SOURCE[0]}" --inside "$with_display" "$provider" "$user" "$control_group" \
    "$@" || status=$?
  "${runner[@]}" "$BASH" "${BASH_SOURCE[0]}" --remove-control-group "$control_group"
  return "$status"
}

if [[ ${1:-} == --inside ]]; then
  shift
  inside_namespace "$@"
elif [[ ${1:-} == --session ]]; then
  shift
  session "$@"
elif [[ ${1:-} == --remove-control-group ]]; then
  remove_control_group "$2"
else
  main "$@"
fi
